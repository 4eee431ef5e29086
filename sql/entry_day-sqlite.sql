-- SPDX-License-Identifier: Apache-2.0
-- The view entry_day for SQLite: entry_credit with the local date of tag_time as day
-- (YYYY-MM-DD, in the time zone of the sqlite3 shell: TZ), NULL for a tag_time outside the
-- years 1 to 9999. Made by sql/load-sqlite; sql/entry_day-postgresql.sql is its twin.
CREATE VIEW entry_day AS
SELECT entry_credit.*,
       CASE WHEN tag_time BETWEEN -62135510400 AND 253402214399
            THEN date(tag_time, 'unixepoch', 'localtime') END AS day
  FROM entry_credit;
