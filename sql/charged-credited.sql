-- SPDX-License-Identifier: Apache-2.0
-- What left the cards against what the settlement credits: one row with the won charged over
-- all entries (base_fee + missed_off_fee + additional_fee), the won credited to both operators
-- together, and charged less credited. The allocation credits a ride at its get-off, base fare
-- included, and a surcharge as the ride never tagged off that it stands for (entry_credit.sql):
-- so a get-on whose get-off is not in these logs, a get-off whose get-on is not, or a transfer
-- trip whose legs were not both charged here makes the two differ. Plain SQL, run alike by
-- SQLite and PostgreSQL.
SELECT CAST(coalesce(sum(charged), 0) AS BIGINT) AS charged,
       CAST(coalesce(sum(subway_credit + bus_credit), 0) AS BIGINT) AS credited,
       CAST(coalesce(sum(charged - subway_credit - bus_credit), 0) AS BIGINT) AS difference
  FROM entry_credit;
