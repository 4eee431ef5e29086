// SPDX-License-Identifier: Apache-2.0
// Streams terminal logs into the entry table.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "Settle.h"
#include "SettleConstants.h"

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

// Takes the card lock (so that a tag a crash cut off is completed or dropped first), opens the
// six logs and notes their lengths, and releases the lock: the logs are then read without it,
// and what they held at that moment is what is settled. False, with every log closed and a
// detail on standard error, when the lock cannot be had or a log cannot be opened.
bool SnapshotLogs(LogSnapshots& logs);

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

// ReadLog on the log at |path|, which it opens and closes; kUnreadable when it cannot be
// opened.
LoadOutcome LoadLog(const std::string& path, EntryBlock& block,
                    std::size_t chunk_bytes = kReadChunkBytes);

// Reads the six logs of |logs| into |table|, one block each in log order, with up to |threads|
// threads (at least one) that take the logs largest first, and closes them. False when one
// cannot be read to its length (detail on standard error).
bool LoadLogs(LogSnapshots& logs, EntryTable& table, unsigned threads);

// Reserves room in |block|, beyond the entries it holds, for as many entries as a log of
// |log_bytes| bytes can hold at most: every record takes at least 22 bytes with the blank after it.
// Room that is never filled costs address space, not memory. The block is marked for large pages,
// which spares the kernel one page fault per 4 KiB of table. When the room cannot be had, the block
// is left to grow as it goes.
void ReserveBlock(EntryBlock& block, std::size_t log_bytes);

// Makes the room for |more| entries after the last one of |block| resident before it is
// written, a megabyte or more at a time, so the kernel maps it in one call instead of one page
// fault per page; |resident| counts the bytes from the start of the block made resident so far
// (0 for a new block). Never beyond the block's capacity. Only advice: it changes no entry.
void PrefaultBlock(EntryBlock& block, std::size_t more, std::size_t& resident);
