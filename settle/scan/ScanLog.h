// SPDX-License-Identifier: Apache-2.0
// The scanning machinery behind FareEntries.h: turns the bytes of a terminal log into entries.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "FareEntries.h"

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

// Scans log records (as LogFile.h states their grammar) from |text| and appends the part the
// allocation reads of each whole, valid one that credits anything (see Credits) to |block|, in
// order. |is_last| says that |text| runs to the end of the log; otherwise a record that touches
// the end of |text| is left for the next call (kNeedMore), and |consumed| says where it starts,
// only while every byte of it so far may begin a whole, valid record: a record is damaged as soon
// as one byte shows it, wherever the text ends. On kDamaged nothing of the damaged record is
// appended and |consumed| is the offset where that record starts. Reads nothing but |text|.
ScanResult ScanLog(std::string_view text, bool is_last, EntryBlock& block);

// Reads records in the shape a terminal writes (eleven fields within 63 bytes, separated by
// spaces and line ends, numbers of few digits) from |at| on, each with every byte tested at
// once: appends those that credit anything to |block|, adds the line ends passed to |lines|, and
// returns where it stopped: |at| itself when the record there has another shape, valid or not, or
// when fewer than 72 bytes are left to read before |end|; otherwise past the blank after the last
// record taken. The general reading goes on from there. |at| is not blank.
const char* TakeCommonRecords(const char* at, const char* end, EntryBlock& block,
                              std::size_t& lines);

// A byte of a compacted record that stands for more of the log than itself: the byte at |at|
// stands for |bytes| more bytes and |lines| more line ends.
struct Gap {
  std::size_t at = 0;
  std::uint64_t bytes = 0;
  std::uint64_t lines = 0;
};

// The longest record that CompactRecord leaves: eleven fields of at most 22 bytes (a sign, two
// zeros and 19 digits), each with one blank after it.
inline constexpr std::size_t kLongestCompactRecord = std::size_t{11} * 23;

// Rewrites the first |size| bytes of |text|, the start of a record that ScanLog left for the next
// piece, so that it scans alike in less room, and returns the new size: a run of blanks becomes
// one blank (a line end when it held one) and a run of leading zeros of a field becomes two
// zeros. |gaps|, in order, tells which bytes stand for more than themselves, before and after.
// Since ScanLog leaves a record only while it may still be whole and valid, the result is at most
// kLongestCompactRecord bytes, however many blanks and zeros the record holds.
std::size_t CompactRecord(char* text, std::size_t size, std::vector<Gap>& gaps);

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
