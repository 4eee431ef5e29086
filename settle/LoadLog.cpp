#include "LoadLog.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
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

void ReportDamage(const std::string& path, std::uint64_t offset) {
  std::fflush(stdout);
  std::fprintf(stderr,
               "%s: %s: damaged record at byte %" PRIu64 "; the rest of this log is not counted\n",
               program_invocation_short_name, path.c_str(), offset);
}

// Feeds the log piece by piece to the scanner. The unfinished record at the end of a piece is
// moved to the front of the buffer and completed by the next read.
LoadOutcome Stream(int fd, const std::string& path, EntryTable& table, std::size_t chunk_bytes) {
  std::vector<char> buffer(chunk_bytes);
  std::size_t held = 0;      // bytes of an unfinished record carried over
  std::uint64_t offset = 0;  // file offset of buffer[0]
  while (true) {
    if (held == buffer.size()) {
      ReportDamage(path, offset);
      return LoadOutcome::kDamaged;
    }
    const ssize_t n = ReadSome(fd, buffer.data() + held, buffer.size() - held);
    if (n < 0) {
      ReportFileError(path);
      return LoadOutcome::kUnreadable;
    }
    const std::size_t filled = held + static_cast<std::size_t>(n);
    const ScanResult scan = ScanLog(std::string_view(buffer.data(), filled), n == 0, table);
    if (scan.stop == ScanStop::kDamaged) {
      ReportDamage(path, offset + scan.consumed);
      return LoadOutcome::kDamaged;
    }
    if (scan.stop == ScanStop::kEndOfLog) return LoadOutcome::kWhole;
    held = filled - scan.consumed;
    std::memmove(buffer.data(), buffer.data() + scan.consumed, held);
    offset += scan.consumed;
  }
}

}  // namespace

LoadOutcome LoadLog(const std::string& path, EntryTable& table, std::size_t chunk_bytes) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    ReportFileError(path);
    return LoadOutcome::kUnreadable;
  }
  const LoadOutcome outcome = Stream(fd, path, table, chunk_bytes);
  close(fd);
  return outcome;
}
