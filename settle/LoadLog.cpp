#include "LoadLog.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <new>
#include <string_view>
#include <vector>

#include "DataFiles.h"
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
// last piece (|held| bytes); |skipping| says that the line of a damaged record goes on.
struct Reader {
  int fd;
  const std::string& path;
  EntryBlock& block;
  std::vector<char> buffer;
  std::size_t held = 0;
  std::uint64_t offset = 0;  // file offset of buffer[0]
  std::uint64_t line = 1;    // line of the place the scan has reached
  std::size_t resident = 0;  // bytes of the block made resident ahead of use
  bool skipping = false;
  bool damaged = false;
};

// One line per skipped record. A single fprintf, so lines of logs read side by side never mix.
void ReportDamage(Reader& r, std::uint64_t offset) {
  std::fprintf(stderr, "%s: %s: line %" PRIu64 ", byte %" PRIu64 ": damaged record skipped\n",
               program_invocation_short_name, r.path.c_str(), r.line, offset);
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
      used = line_end + 1;
      ++r.line;
    }
    const ScanResult scan = ScanLog(text.substr(used), is_last, r.block);
    used += scan.consumed;
    r.line += scan.lines;
    if (scan.stop != ScanStop::kDamaged) return used;
    ReportDamage(r, r.offset + used);
  }
}

// Keeps the bytes of |filled| after the first |used| at the front of the buffer.
void Carry(Reader& r, std::size_t filled, std::size_t used) {
  r.held = filled - used;
  std::memmove(r.buffer.data(), r.buffer.data() + used, r.held);
  r.offset += used;
}

// Makes room for more of a record that fills the whole buffer. One too long for memory is
// skipped like a damaged one: it starts at buffer[0].
void MakeRoom(Reader& r) {
  try {
    r.buffer.resize(2 * r.buffer.size());
  } catch (const std::bad_alloc&) {
    ReportDamage(r, r.offset);
    Carry(r, r.held, ScanPiece(r, r.held, false));
  }
}

LoadOutcome Stream(Reader& r) {
  while (true) {
    if (r.held == r.buffer.size()) MakeRoom(r);
    const ssize_t n = ReadSome(r.fd, r.buffer.data() + r.held, r.buffer.size() - r.held);
    if (n < 0) {
      ReportFileError(r.path);
      return LoadOutcome::kUnreadable;
    }
    const std::size_t filled = r.held + static_cast<std::size_t>(n);
    PrefaultBlock(r.block, filled / kShortestRecordBytes + 1, r.resident);
    const std::size_t used = ScanPiece(r, filled, n == 0);
    if (n == 0) return r.damaged ? LoadOutcome::kDamaged : LoadOutcome::kWhole;
    Carry(r, filled, used);
  }
}

}  // namespace

LoadOutcome ReadLog(int fd, const std::string& path, EntryBlock& block, std::size_t chunk_bytes) {
  struct stat info {};
  if (fstat(fd, &info) == 0 && info.st_size > 0) {
    ReserveBlock(block, static_cast<std::size_t>(info.st_size));
  }
  Reader reader{fd, path, block, std::vector<char>(chunk_bytes)};
  return Stream(reader);
}

LoadOutcome LoadLog(const std::string& path, EntryBlock& block, std::size_t chunk_bytes) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    ReportFileError(path);
    return LoadOutcome::kUnreadable;
  }
  const LoadOutcome outcome = ReadLog(fd, path, block, chunk_bytes);
  close(fd);
  return outcome;
}
