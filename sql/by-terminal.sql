-- SPDX-License-Identifier: Apache-2.0
-- The settlement broken down by the terminal that wrote each entry: one row per term_id with
-- its entries, the won they charged and the won they credit to each operator. The credits of
-- all rows add up to sql/settlement.sql. Plain SQL, run alike by SQLite and PostgreSQL.
SELECT term_id,
       count(*) AS entries,
       CAST(sum(charged) AS BIGINT) AS charged,
       CAST(sum(subway_credit) AS BIGINT) AS subway_credit,
       CAST(sum(bus_credit) AS BIGINT) AS bus_credit
  FROM entry_credit
 GROUP BY term_id
 ORDER BY term_id;
