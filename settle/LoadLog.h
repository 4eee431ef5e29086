// Streams one terminal log into the entry table.
#pragma once

#include <cstddef>
#include <string>

#include "Settle.h"
#include "SettleConstants.h"

enum class LoadOutcome {
  kWhole,       // every record of the log is in the table
  kDamaged,     // the records before a damaged one are in the table; the rest is ignored
  kUnreadable,  // the log could not be opened or read
};

// Appends the records of the log at |path| to |table|, reading |chunk_bytes| at a time (more
// than zero), so memory stays flat however long the log is. A damaged record, or one of
// |chunk_bytes| bytes or more, stops the reading: it and everything after it are left out, and a
// detail naming the file and the byte offset goes to standard error. kUnreadable also prints a
// detail on standard error; the table may then hold part of the log.
LoadOutcome LoadLog(const std::string& path, EntryTable& table,
                    std::size_t chunk_bytes = kReadChunkBytes);

// Reserves room in |table| for as many entries as the six logs can hold at most, judged by
// their sizes: every record takes at least 22 bytes with the blank after it. Room that is never
// filled costs address space, not memory. The block is marked for large pages, which spares
// the kernel one page fault per 4 KiB of table. When the room cannot be had, the table is left
// to grow as it goes.
void ReserveTable(EntryTable& table);
