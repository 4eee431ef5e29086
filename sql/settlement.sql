-- SPDX-License-Identifier: Apache-2.0
-- The settlement of the six terminal logs: one row of two integers, the subway income and the
-- bus income, to the won what settle reports for the same logs: the sum of the credits of
-- every entry (entry_credit.sql). Plain SQL, run alike by SQLite and PostgreSQL. A total
-- beyond 64 bits ends the query with an error, as settle refuses it.
SELECT CAST(coalesce(sum(subway_credit), 0) AS BIGINT) AS subway_income,
       CAST(coalesce(sum(bus_credit), 0) AS BIGINT) AS bus_income
  FROM entry_credit;
