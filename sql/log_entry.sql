-- SPDX-License-Identifier: Apache-2.0
-- The tables the loaders sql/load-sqlite and sql/load-postgresql fill from the six logs and the
-- runs kept beside them, read by settle's rule (read-logs.awk). Plain SQL for SQLite and PostgreSQL alike: every number a
-- BIGINT (in SQLite, an integer of up to 64 bits), every letter one-letter TEXT. The views over
-- log_entry go first, so that the tables can be dropped; the loaders make them anew.
DROP VIEW IF EXISTS entry_day;
DROP VIEW IF EXISTS entry_credit;
-- One row per whole log record, the eleven fields in log order, then the name of the file it
-- came from: a log (1111.txt to 6666.txt) or a kept run (1111.txt.run-...).
DROP TABLE IF EXISTS log_entry;
CREATE TABLE log_entry (
  term_id BIGINT NOT NULL,
  base_fee BIGINT NOT NULL,
  missed_off_fee BIGINT NOT NULL,
  additional_fee BIGINT NOT NULL,
  card_id BIGINT NOT NULL,
  transfer TEXT NOT NULL,
  prev_fare BIGINT NOT NULL,
  prev_vehicle TEXT NOT NULL,
  in_out TEXT NOT NULL,
  tag_time BIGINT NOT NULL,
  stamp BIGINT NOT NULL,
  file TEXT NOT NULL
);
-- One row per damaged record, skipped as settle skips it: the name of its file and the line
-- where the record began.
DROP TABLE IF EXISTS rejected_line;
CREATE TABLE rejected_line (
  log TEXT NOT NULL,
  line BIGINT NOT NULL
);
