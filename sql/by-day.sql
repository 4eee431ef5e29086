-- SPDX-License-Identifier: Apache-2.0
-- The settlement broken down by the local date of each tag (entry_day: the loader's time zone
-- rule is in entry_day-sqlite.sql and entry_day-postgresql.sql): one row per day with its
-- entries, the won they charged and the won they credit to each operator. The credits of all
-- rows add up to sql/settlement.sql. Plain SQL, run alike by SQLite and PostgreSQL.
SELECT day,
       count(*) AS entries,
       CAST(sum(charged) AS BIGINT) AS charged,
       CAST(sum(subway_credit) AS BIGINT) AS subway_credit,
       CAST(sum(bus_credit) AS BIGINT) AS bus_credit
  FROM entry_day
 GROUP BY day
 ORDER BY day;
