// The pure part of log loading: turns the bytes of a terminal log into entries.
#pragma once

#include <cstddef>
#include <string_view>

#include "Settle.h"

enum class ScanStop {
  kEndOfLog,  // every record of the log was whole and valid
  kNeedMore,  // the text ends inside a record that later bytes may complete
  kDamaged,   // a record is cut short or holds a field that is not a value in range
};

struct ScanResult {
  std::size_t consumed = 0;  // bytes used: the whole records taken and the white space after
  std::size_t lines = 0;     // line ends within those bytes
  ScanStop stop = ScanStop::kEndOfLog;
};

// Scans log records from |text| and appends the part the allocation reads of each whole, valid
// one to |block|, in order. A record is eleven fields separated by any white space, line ends
// included (so lines need not match records): five 32-bit numbers, a letter, a 32-bit number,
// two letters, two 64-bit numbers. A number is an optional sign and decimal digits, as many as
// it has (leading zeros included); a letter is a field of exactly one character. |is_last| says
// that |text| runs to the end of the log; otherwise a record or a field that touches the end of
// |text| is left for the next call (kNeedMore) and |consumed| says where it starts. On kDamaged
// nothing of the damaged record is appended and |consumed| is the offset where that record
// starts. Reads nothing but |text|.
ScanResult ScanLog(std::string_view text, bool is_last, EntryBlock& block);

// Reads records in the shape a terminal writes (eleven fields within 63 bytes, separated by
// spaces and line ends, numbers of few digits) from |at| on, each with every byte tested at
// once: appends them to |block|, adds the line ends passed to |lines|, and returns where it
// stopped: |at| itself when the record there has another shape, valid or not, or when fewer
// than 72 bytes are left to read before |end|; otherwise past the blank after the last record
// taken. The general reading goes on from there. |at| is not blank.
const char* TakeCommonRecords(const char* at, const char* end, EntryBlock& block,
                              std::size_t& lines);
