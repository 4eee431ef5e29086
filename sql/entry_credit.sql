-- SPDX-License-Identifier: Apache-2.0
-- The view entry_credit: every row of log_entry with what it charged the card (base_fee +
-- missed_off_fee + additional_fee) and what the settlement credits for it to the subway and to
-- the bus operator, so that the sum of subway_credit and of bus_credit over all entries is what
-- settle reports. Plain SQL, run alike by SQLite and PostgreSQL; made by the loaders.
--
-- An entry credits by its surcharge, and again when it ends a ride:
--   missed_off_fee 200: 1250 to the subway;
--   missed_off_fee 600 or 700, and a get-off ('O') of a transfer ride ('T'): a trip amount T
--     shared, the bus taking r and the subway T - r (a get-off then takes back the first leg's
--     fare, which that leg's own get-off credited in full);
--   a get-off of an ordinary ride ('F'): additional_fee + 1050 to the operator where it ended.
-- The bus share is r = R(T * W, D) with R(n, d) = ceil(n / d - 1/2), an exact half rounding
-- down, W the bus weight and D = T + F, F the first leg's fare; a D of 0 shares nothing.
-- Since R(n + k * d, d) = k + R(n, d) for whole k, and T = D - F, the share is worked out as
--   W = F = 1050:  r = 1050 + R(-1050 * 1050, D)
--   W = T:         r = D - 2F + R(F * F, D)
-- whose every step stays within 2^63 for any values of the 32-bit fields: the arithmetic is
-- whole 64-bit numbers in both engines, never a fraction or a float, and always exact.
CREATE VIEW entry_credit AS
WITH
-- Of each entry's (at most two) shares, the surcharge's (s_) and the get-off's (g_): the trip T,
-- n and d of R, the whole part c of r, and what each operator gives back of it.
share AS (
  SELECT term_id, card_id, tag_time, in_out, transfer, base_fee, missed_off_fee, additional_fee,
         prev_fare,
         CASE missed_off_fee WHEN 600 THEN 1650 WHEN 700 THEN prev_fare + 700 END AS s_trip,
         CASE missed_off_fee WHEN 600 THEN -1102500 WHEN 700 THEN prev_fare * prev_fare
         END AS s_n,
         CASE missed_off_fee WHEN 600 THEN 2700 WHEN 700 THEN 2 * prev_fare + 700 END AS s_d,
         CASE missed_off_fee WHEN 600 THEN 1050 WHEN 700 THEN 700 END AS s_c,
         CASE WHEN in_out <> 'O' OR transfer <> 'T' THEN NULL
              WHEN term_id = 6666 THEN additional_fee + prev_fare
              ELSE additional_fee + 1050 END AS g_trip,
         CASE WHEN term_id = 6666 THEN prev_fare * prev_fare ELSE -1102500 END AS g_n,
         CASE WHEN term_id = 6666 THEN additional_fee + 2 * prev_fare
              ELSE additional_fee + 2100 END AS g_d,
         CASE WHEN term_id = 6666 THEN additional_fee ELSE 1050 END AS g_c,
         CASE WHEN term_id = 6666 THEN prev_fare ELSE 0 END AS g_back_subway,
         CASE WHEN term_id = 6666 THEN 0 ELSE 1050 END AS g_back_bus
    FROM log_entry
),
-- n / d with d made positive: q = (n - m) / d exactly, with m = n mod d in [0, d). A d of 0
-- becomes NULL, and so does all that follows from it.
divided AS (
  SELECT share.*,
         CASE WHEN s_d < 0 THEN -s_n ELSE s_n END AS s_pn,
         CASE WHEN s_d <> 0 THEN abs(s_d) END AS s_pd,
         CASE WHEN g_d < 0 THEN -g_n ELSE g_n END AS g_pn,
         CASE WHEN g_d <> 0 AND g_trip IS NOT NULL THEN abs(g_d) END AS g_pd
    FROM share
),
modulo AS (
  SELECT divided.*,
         (s_pn % s_pd + s_pd) % s_pd AS s_m,
         (g_pn % g_pd + g_pd) % g_pd AS g_m
    FROM divided
),
-- R(n, d) = q, plus 1 when the remainder is above one half.
rounded AS (
  SELECT modulo.*,
         s_c + (s_pn - s_m) / s_pd + CASE WHEN 2 * s_m > s_pd THEN 1 ELSE 0 END AS s_bus,
         g_c + (g_pn - g_m) / g_pd + CASE WHEN 2 * g_m > g_pd THEN 1 ELSE 0 END AS g_bus
    FROM modulo
)
SELECT term_id, card_id, tag_time, in_out, transfer, base_fee, missed_off_fee, additional_fee,
       base_fee + missed_off_fee + additional_fee AS charged,
       coalesce(s_trip - s_bus, 0)
         + coalesce(g_trip - g_bus - g_back_subway, 0)
         + CASE WHEN missed_off_fee = 200 THEN 1250 ELSE 0 END
         + CASE WHEN in_out = 'O' AND transfer = 'F' AND term_id <> 6666
                THEN additional_fee + 1050 ELSE 0 END AS subway_credit,
       coalesce(s_bus, 0)
         + coalesce(g_bus - g_back_bus, 0)
         + CASE WHEN in_out = 'O' AND transfer = 'F' AND term_id = 6666
                THEN additional_fee + 1050 ELSE 0 END AS bus_credit
  FROM rounded;
