-- SPDX-License-Identifier: Apache-2.0
-- The table that sql/settlement.sql reads: one row per log record, the eleven fields in log
-- order. Plain SQL for SQLite and PostgreSQL alike: every number a BIGINT (in SQLite, an integer
-- of up to 64 bits), transfer, prev_vehicle and in_out one-letter TEXT. The loaders
-- sql/load-sqlite and sql/load-postgresql create it and fill it from the six logs.
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
  stamp BIGINT NOT NULL
);
