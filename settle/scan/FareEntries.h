// SPDX-License-Identifier: Apache-2.0
// What the settlement reads of the logs, and how it reads them: the one header of the scanning
// machinery below it. A log's records (their grammar is in LogFile.h) become fare entries,
// read in pieces, side by side, into one table of blocks.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "LogEntry.h"
#include "WhatTerm.h"

// The logs, in the order their entries enter the table.
inline constexpr std::array<std::int32_t, 6> kLogTermIds = {1111, 2222, 3333, 4444, 5555, 6666};

// Logs are read in pieces of this size, so memory does not grow with the size of a log. An
// unfinished record is carried to the next piece; a record longer than a piece (a written line
// is under 200 bytes, but the format allows any amount of white space) grows the buffer.
inline constexpr std::size_t kReadChunkBytes = std::size_t{64} * 1024;

// The surcharges the allocation credits; every other missedOffFee credits nothing.
enum class Surcharge : std::uint8_t {
  kNone,
  kSubwayTransferOff,  // 600: a subway transfer ride was never tagged off
  kBusTransferOff,     // 700: a bus transfer ride was never tagged off
  kSubwayOff,          // 200: an ordinary subway ride was never tagged off
};

// What the allocation reads of one log entry, in 12 bytes. The other fields of the record are
// checked when the log is read and then dropped, which keeps a table of millions of entries
// small: its memory, not the reading, is most of the cost of a large settlement.
struct FareEntry {
  std::int32_t additionalFee = 0;
  std::int32_t prevFare = 0;
  Surcharge surcharge = Surcharge::kNone;  // from missedOffFee
  char transfer = 'F';
  char inOut = 'I';
  bool atBusStation = false;  // the entry's termId is the bus station's
};

// Whether any pass credits |entry|: it carries a surcharge, or it is a get-off whose transfer
// flag is 'T' or 'F'. Only such entries are kept in the table: the others, get-ons for the most
// part, add nothing to any total, and leaving them out makes the table about half as large.
inline bool Credits(const FareEntry& entry) {
  return entry.surcharge != Surcharge::kNone ||
         (entry.inOut == 'O' && (entry.transfer == 'T' || entry.transfer == 'F'));
}

// The entries of one log that credit anything (see Credits), in line order: one block,
// reserved up front from the size of the log (see ReserveBlock), so it never grows by a
// doubling copy.
using EntryBlock = std::vector<FareEntry>;

// Every entry of the six logs: one block per log, in log order. The logs are read side by side,
// so each fills its own block.
using EntryTable = std::vector<EntryBlock>;

// The surcharge that a missedOffFee of |missed_off_fee| stands for.
Surcharge SurchargeOf(std::int32_t missed_off_fee);

enum class LoadOutcome {
  kWhole,       // every record of the log is in the block
  kDamaged,     // damaged records were skipped; every other record is in the block
  kUnreadable,  // the log could not be opened or read
};

// A log as the settlement found it: open for reading, and its length at that moment.
struct LogSnapshot {
  int fd = -1;
  std::string path;
  std::uint64_t length = 0;
};

// The six logs, in log order.
using LogSnapshots = std::array<LogSnapshot, kLogTermIds.size()>;

// Opens the log at |path| into |log| and notes its length. Only a regular file is a log: the open
// never blocks (a FIFO without a writer would), and a FIFO, a device, a directory or a socket is
// refused. False, with |log| closed and a detail on standard error, on any failure.
bool OpenLog(const std::string& path, LogSnapshot& log);

// Closes every log of |logs| that is open.
void CloseLogs(LogSnapshots& logs);

// Appends the records of the first |log.length| bytes of the open log |log| to |block|, reading
// |chunk_bytes| at a time (more than zero). Memory stays flat however long the log is and
// whatever it holds: a record that runs on past a piece is carried over with its blanks and
// leading zeros compacted, so a record of any length is still read. A damaged record costs only
// itself: nothing of it is appended, a line naming the file, the line and the byte offset where
// it starts goes to standard error, and the reading goes on at the start of the line after the
// one where that record began. kUnreadable, with a detail on standard error, when a read fails
// or the log ends before its length; the block may then hold part of the log. Does not close
// the log.
LoadOutcome ReadLog(const LogSnapshot& log, EntryBlock& block,
                    std::size_t chunk_bytes = kReadChunkBytes);

// Reads the six logs of |logs| into |table|, one block each in log order, with up to |threads|
// threads (at least one) that take the logs largest first, and closes them. False when one
// cannot be read to its length (detail on standard error).
bool LoadLogs(LogSnapshots& logs, EntryTable& table, unsigned threads);
