// SPDX-License-Identifier: Apache-2.0
#include "FareEntries.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <vector>

#include "DataFiles.h"
#include "LogFile.h"
#include "ScanLog.h"

namespace {

// Reads up to |size| bytes into |into|; the count, 0 at the end of the file, -1 on an error.
ssize_t ReadSome(int fd, char* into, std::size_t size) {
  ssize_t n = 0;
  do {
    n = read(fd, into, size);
  } while (n < 0 && errno == EINTR);
  return n;
}

// The reading of one log. The buffer starts with the unfinished record carried over from the
// last piece (|held| bytes), compacted: |gaps| tells which of its bytes stand for more of the
// log. |skipping| says that the line of a damaged record goes on.
struct Reader {
  const LogSnapshot& log;
  EntryBlock& block;
  std::size_t chunk;
  std::vector<char> buffer;
  std::vector<Gap> gaps;
  std::uint64_t left = 0;  // bytes of the log not read yet
  std::size_t held = 0;
  std::uint64_t offset = 0;  // file offset of buffer[0]
  std::uint64_t line = 1;    // line of the place the scan has reached
  std::size_t resident = 0;  // bytes of the block made resident ahead of use
  bool skipping = false;
  bool damaged = false;
};

// What the buffer bytes [from, to) stand for beyond themselves.
Gap Beyond(const Reader& r, std::size_t from, std::size_t to) {
  Gap sum;
  for (const Gap& gap : r.gaps) {
    if (gap.at >= from && gap.at < to) {
      sum.bytes += gap.bytes;
      sum.lines += gap.lines;
    }
  }
  return sum;
}

// One line per skipped record. A single fprintf, so lines of logs read side by side never mix.
void ReportDamage(Reader& r, std::size_t at) {
  const std::uint64_t offset = r.offset + at + Beyond(r, 0, at).bytes;
  std::fprintf(stderr, "%s: %s: line %" PRIu64 ", byte %" PRIu64 ": damaged record skipped\n",
               program_invocation_short_name, r.log.path.c_str(), r.line, offset);
  r.damaged = true;
  r.skipping = true;
}

// Scans the first |filled| bytes of the buffer, going on after each damaged record at the line
// after the one where it began. Returns the bytes used: all but an unfinished record.
std::size_t ScanPiece(Reader& r, std::size_t filled, bool is_last) {
  const std::string_view text(r.buffer.data(), filled);
  std::size_t used = 0;
  while (true) {
    if (r.skipping) {
      const std::size_t line_end = text.find('\n', used);
      if (line_end == std::string_view::npos) return filled;
      r.skipping = false;
      r.line += 1 + Beyond(r, used, line_end + 1).lines;
      used = line_end + 1;
    }
    const ScanResult scan = ScanLog(text.substr(used), is_last, r.block);
    r.line += scan.lines + Beyond(r, used, used + scan.consumed).lines;
    used += scan.consumed;
    if (scan.stop != ScanStop::kDamaged) return used;
    ReportDamage(r, used);
  }
}

// Keeps the bytes of |filled| after the first |used| at the front of the buffer, compacted.
void Carry(Reader& r, std::size_t filled, std::size_t used) {
  r.offset += used + Beyond(r, 0, used).bytes;
  r.held = filled - used;
  std::memmove(r.buffer.data(), r.buffer.data() + used, r.held);
  std::erase_if(r.gaps, [used](const Gap& gap) { return gap.at < used; });
  for (Gap& gap : r.gaps) gap.at -= used;
  if (r.held == 0) return;
  r.held = CompactRecord(r.buffer.data(), r.held, r.gaps);
  // Cannot happen to a record that may still be valid; should it all the same, the record is
  // skipped like a damaged one rather than let memory grow.
  if (r.held > kLongestCompactRecord) {
    ReportDamage(r, 0);
    Carry(r, r.held, ScanPiece(r, r.held, false));
  }
}

void ReportCutShort(const Reader& r) {
  std::fflush(stdout);
  std::fprintf(stderr, "%s: %s: cut short while it was read\n", program_invocation_short_name,
               r.log.path.c_str());
}

LoadOutcome Stream(Reader& r) {
  while (true) {
    const std::size_t want = std::min<std::uint64_t>(r.chunk, r.left);
    const ssize_t n = want == 0 ? 0 : ReadSome(r.log.fd, r.buffer.data() + r.held, want);
    if (n < 0) {
      ReportFileError(r.log.path);
      return LoadOutcome::kUnreadable;
    }
    if (n == 0 && r.left != 0) {
      ReportCutShort(r);
      return LoadOutcome::kUnreadable;
    }
    r.left -= static_cast<std::uint64_t>(n);
    const std::size_t filled = r.held + static_cast<std::size_t>(n);
    PrefaultBlock(r.block, filled / kShortestRecordBytes + 1, r.resident);
    const std::size_t used = ScanPiece(r, filled, r.left == 0);
    if (r.left == 0) return r.damaged ? LoadOutcome::kDamaged : LoadOutcome::kWhole;
    Carry(r, filled, used);
  }
}

}  // namespace

LoadOutcome ReadLog(const LogSnapshot& log, EntryBlock& block, std::size_t chunk_bytes) {
  if (log.length > 0) ReserveBlock(block, static_cast<std::size_t>(log.length));
  Reader reader{log, block,     chunk_bytes, std::vector<char>(chunk_bytes + kLongestCompactRecord),
                {},  log.length};
  return Stream(reader);
}



bool OpenLog(const std::string& path, LogSnapshot& log) {
  log.path = path;
  // A log is a file a person names: a link is followed as the data files follow one.
  log.fd = OpenDataFile(path, O_RDONLY | O_NONBLOCK | O_NOCTTY);
  struct stat info {};
  if (log.fd < 0 || fstat(log.fd, &info) != 0) {
    if (log.fd >= 0 || errno == ENOENT) ReportFileError(path);
    CloseFile(log.fd);
    log.fd = -1;
    return false;
  }
  if (!S_ISREG(info.st_mode)) {
    // Reading a FIFO could wait for ever and a device could run on for ever.
    std::fprintf(stderr, "%s: %s: not a regular file\n", program_invocation_short_name,
                 path.c_str());
    CloseFile(log.fd);
    log.fd = -1;
    return false;
  }
  log.length = static_cast<std::uint64_t>(info.st_size);
  return true;
}

void CloseLogs(LogSnapshots& logs) {
  for (LogSnapshot& log : logs) {
    CloseFile(log.fd);
    log.fd = -1;
  }
}
