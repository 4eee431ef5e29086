-- SPDX-License-Identifier: Apache-2.0
-- The settlement of the six terminal logs as one query over log_entry (one row per log
-- record, see log_entry.sql): one row of two integers, the subway income and the bus income,
-- to the won what settle reports for the same logs. Plain SQL, run alike by SQLite and
-- PostgreSQL.
--
-- Every rule is a sum over entries. A transfer trip amount T is shared between the operators
-- by weights: the bus takes r = ceil(T * W / D - 1/2), an exact half rounding down, with W the
-- bus weight and D = T + F (F the first leg's fare), worked out in whole numbers exactly as
-- settle does: r = ceil((2 * T * W - D) / (2 * D)). The product is taken as NUMERIC, which
-- PostgreSQL keeps exact for any size, so there the query is exact for every value that the
-- 32-bit fields of a log can hold. SQLite keeps it an integer of 64 bits, exact while no
-- product passes 2^63: for every row whose additional_fee and prev_fare both lie within
-- -1073741823 to 1073741823, far beyond any amount a terminal writes from an issued card.
WITH
-- One row per trip amount to share: the trip T, the bus weight W, the divisor D, and the first
-- leg's fare that this rule takes back from the operator the general rule already credited.
share (trip, weight, divisor, back_subway, back_bus) AS (
  -- A get-on charging 600: a subway transfer ride after a bus ride was never tagged off.
  SELECT 1650, 1050, 2700, 0, 0 FROM log_entry WHERE missed_off_fee = 600
  UNION ALL
  -- A get-on charging 700: a bus transfer ride after a subway ride of prev_fare.
  SELECT prev_fare + 700, prev_fare + 700, 2 * prev_fare + 700, 0, 0
    FROM log_entry WHERE missed_off_fee = 700
  UNION ALL
  -- A transfer ride that ended at a subway station, after a bus ride of 1050.
  SELECT additional_fee + 1050, 1050, additional_fee + 2100, 0, 1050
    FROM log_entry WHERE in_out = 'O' AND transfer = 'T' AND term_id <> 6666
  UNION ALL
  -- A transfer ride that ended at the bus station, after a subway ride of prev_fare.
  SELECT additional_fee + prev_fare, additional_fee + prev_fare,
         additional_fee + 2 * prev_fare, prev_fare, 0
    FROM log_entry WHERE in_out = 'O' AND transfer = 'T' AND term_id = 6666
),
-- r = ceil(a / b) with a = 2 * T * W - D and b = 2 * D, both negated when D < 0 so that b > 0.
-- A divisor of 0 has no proportion to share by: such an entry credits nothing at all.
fraction (a, b, trip, back_subway, back_bus) AS (
  SELECT CASE WHEN divisor > 0 THEN 2 * CAST(trip AS NUMERIC) * weight - divisor
              ELSE divisor - 2 * CAST(trip AS NUMERIC) * weight END,
         2 * abs(divisor), trip, back_subway, back_bus
    FROM share WHERE divisor <> 0
),
-- ceil(a / b) = (a + m) / b, where m = (-a) mod b in [0, b) makes the division exact: so no
-- engine's own rounding of a division (toward zero, or to a fraction) takes part.
rounded (bus, trip, back_subway, back_bus) AS (
  SELECT (a + ((-a) % b + b) % b) / b, trip, back_subway, back_bus
    FROM fraction
),
credit (subway, bus) AS (
  SELECT trip - bus - back_subway, bus - back_bus FROM rounded
  UNION ALL
  -- A get-on charging 200: an ordinary subway ride was never tagged off.
  SELECT 1250, 0 FROM log_entry WHERE missed_off_fee = 200
  UNION ALL
  -- An ordinary ride: its whole fare to the operator where it ended.
  SELECT CASE WHEN term_id = 6666 THEN 0 ELSE additional_fee + 1050 END,
         CASE WHEN term_id = 6666 THEN additional_fee + 1050 ELSE 0 END
    FROM log_entry WHERE in_out = 'O' AND transfer = 'F'
)
SELECT CAST(coalesce(sum(subway), 0) AS BIGINT) AS subway_income,
       CAST(coalesce(sum(bus), 0) AS BIGINT) AS bus_income
  FROM credit;
