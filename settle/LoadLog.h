// Streams terminal logs into the entry table.
#pragma once

#include <cstddef>
#include <string>

#include "Settle.h"
#include "SettleConstants.h"

enum class LoadOutcome {
  kWhole,       // every record of the log is in the block
  kDamaged,     // damaged records were skipped; every other record is in the block
  kUnreadable,  // the log could not be opened or read
};

// Appends the records of the open log |fd| (named |path| in messages) to |block|, reading
// |chunk_bytes| at a time (more than zero), so memory stays flat however long the log is; a
// record longer than that is read whole all the same, the buffer growing to hold it. A damaged
// record costs only itself: nothing of it is appended, a line naming the file, the line and the
// byte offset where it starts goes to standard error, and the reading goes on at the start of
// the line after the one where that record began. kUnreadable also prints a detail on standard
// error; the block may then hold part of the log. Does not close |fd|.
LoadOutcome ReadLog(int fd, const std::string& path, EntryBlock& block,
                    std::size_t chunk_bytes = kReadChunkBytes);

// ReadLog on the log at |path|, which it opens and closes; kUnreadable when it cannot be
// opened.
LoadOutcome LoadLog(const std::string& path, EntryBlock& block,
                    std::size_t chunk_bytes = kReadChunkBytes);

// Loads the six logs into |table|, one block each in log order, with up to |threads| threads
// (at least one) that take the logs largest first. Every log is opened before any is read:
// false, with nothing loaded, when one cannot be opened; false as well when one cannot be read
// to its end. Either failure prints a detail on standard error.
bool LoadLogs(EntryTable& table, unsigned threads);

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
