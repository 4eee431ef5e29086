// SPDX-License-Identifier: Apache-2.0
#include <algorithm>

#include "ScanLog.h"

namespace {

bool IsBlank(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// The text being compacted: bytes are read at |from| and written at |to|, never ahead of it.
struct Compaction {
  char* text;
  std::size_t size;
  const std::vector<Gap>& old_gaps;
  std::vector<Gap>& new_gaps;
  std::size_t next_gap = 0;  // the first old gap not passed yet
  std::size_t from = 0;
  std::size_t to = 0;
};

// Writes |c| for the bytes [from, end), which it passes: one byte that stands for all of them.
void Collapse(Compaction& c, std::size_t end, char written) {
  Gap stands{c.to, 0, 0};
  for (std::size_t i = c.from; i < end; ++i) {
    stands.bytes += 1;
    stands.lines += c.text[i] == '\n' ? 1 : 0;
  }
  for (; c.next_gap < c.old_gaps.size() && c.old_gaps[c.next_gap].at < end; ++c.next_gap) {
    stands.bytes += c.old_gaps[c.next_gap].bytes;
    stands.lines += c.old_gaps[c.next_gap].lines;
  }
  stands.bytes -= 1;
  stands.lines -= written == '\n' ? 1 : 0;
  if (stands.bytes != 0 || stands.lines != 0) c.new_gaps.push_back(stands);
  c.text[c.to++] = written;
  c.from = end;
}

// Copies the bytes [from, end) as they are.
void Copy(Compaction& c, std::size_t end) {
  while (c.from < end) Collapse(c, c.from + 1, c.text[c.from]);
}

std::size_t RunEnd(const Compaction& c, std::size_t at, bool blank) {
  while (at < c.size && IsBlank(c.text[at]) == blank && (blank || c.text[at] == '0')) ++at;
  return at;
}

// One field: its sign, if any, and its first leading zero as they are; the rest of its leading
// zeros as one zero, so that a field of two characters or more keeps two; the rest as it is.
void CompactField(Compaction& c) {
  std::size_t at = c.from;
  if (c.text[at] == '-' || c.text[at] == '+') ++at;
  const std::size_t zeros_end = RunEnd(c, at, false);
  if (zeros_end - at >= 2) {
    Copy(c, at + 1);
    Collapse(c, zeros_end, '0');
  }
  std::size_t end = c.from;
  while (end < c.size && !IsBlank(c.text[end])) ++end;
  Copy(c, end);
}

}  // namespace

std::size_t CompactRecord(char* text, std::size_t size, std::vector<Gap>& gaps) {
  std::vector<Gap> compacted;
  Compaction c{text, size, gaps, compacted};
  while (c.from < size) {
    if (!IsBlank(text[c.from])) {
      CompactField(c);
      continue;
    }
    const std::size_t end = RunEnd(c, c.from, true);
    const bool line_end = std::find(text + c.from, text + end, '\n') != text + end;
    Collapse(c, end, line_end ? '\n' : ' ');
  }
  gaps.swap(compacted);
  return c.to;
}
