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

// The record at |at| in the shape a terminal writes (eleven fields within 63 bytes, separated
// by spaces and line ends, numbers of few digits), read with every byte tested at once: |e| is
// filled, |lines| set to the line ends passed, and the result is where to look for the next
// record, past the blank after the last field. Needs 72 bytes to read at |at|, the first not
// blank. nullptr for any other shape, valid or not (with |e| possibly half filled): the general
// reading then decides.
const char* TakeCommonRecord(const char* at, FareEntry& e, std::size_t& lines);
