-- Loads the six terminal logs into the table log_entry, one row per log line, for the
-- sqlite3 shell. Run it in the directory where settle runs, so that ../../ holds the logs:
--   sqlite3 books.db < sql/log_entry.sql
-- Every number is stored as an integer; transfer, prev_vehicle and in_out as one-letter text.
DROP TABLE IF EXISTS log_entry;
CREATE TABLE log_entry (
  term_id INTEGER NOT NULL,
  base_fee INTEGER NOT NULL,
  missed_off_fee INTEGER NOT NULL,
  additional_fee INTEGER NOT NULL,
  card_id INTEGER NOT NULL,
  transfer TEXT NOT NULL,
  prev_fare INTEGER NOT NULL,
  prev_vehicle TEXT NOT NULL,
  in_out TEXT NOT NULL,
  tag_time INTEGER NOT NULL,
  stamp INTEGER NOT NULL
);
-- A terminal writes its fields one blank apart and ends each line with a line end.
.mode ascii
.separator " " "\n"
.import ../../1111.txt log_entry
.import ../../2222.txt log_entry
.import ../../3333.txt log_entry
.import ../../4444.txt log_entry
.import ../../5555.txt log_entry
.import ../../6666.txt log_entry
.mode list
.separator "|" "\n"
