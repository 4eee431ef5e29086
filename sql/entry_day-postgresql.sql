-- SPDX-License-Identifier: Apache-2.0
-- The view entry_day for PostgreSQL: entry_credit with the local date of tag_time as day
-- (YYYY-MM-DD, in the session's time zone: PGTZ, or the server's TimeZone), NULL for a
-- tag_time outside the years 1 to 9999. Made by sql/load-postgresql; sql/entry_day-sqlite.sql
-- is its twin.
CREATE VIEW entry_day AS
SELECT entry_credit.*,
       CASE WHEN tag_time BETWEEN -62135510400 AND 253402214399
            THEN to_char(to_timestamp(tag_time), 'YYYY-MM-DD') END AS day
  FROM entry_credit;
