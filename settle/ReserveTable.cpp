#include <sys/mman.h>
#include <sys/stat.h>

#include <cstdint>
#include <new>
#include <stdexcept>

#include "DataFiles.h"
#include "LoadLog.h"
#include "SettleConstants.h"

namespace {

// The shortest record: eleven one-character fields, ten blanks between them and one after.
constexpr std::size_t kShortestRecordBytes = 22;
constexpr std::size_t kPageBytes = 4096;

// The sum of the sizes of the six logs; a log that is missing adds nothing (loading will stop
// at it anyway).
std::size_t TotalLogBytes() {
  std::size_t bytes = 0;
  for (const std::int32_t term_id : kLogTermIds) {
    struct stat info {};
    if (stat(DataPath(LogFileName(term_id)).c_str(), &info) == 0 && info.st_size > 0) {
      bytes += static_cast<std::size_t>(info.st_size);
    }
  }
  return bytes;
}

// Asks for large pages on the whole pages of the table's block. Only advice: when the kernel
// has none to give, the table works the same.
void AdviseLargePages(EntryTable& table) {
  char* const block = reinterpret_cast<char*>(table.data());
  const auto address = reinterpret_cast<std::uintptr_t>(block);
  const std::size_t skip = (kPageBytes - address % kPageBytes) % kPageBytes;
  const std::size_t bytes = table.capacity() * sizeof(LogEntry);
  if (bytes <= skip + kPageBytes) return;
  madvise(block + skip, (bytes - skip) / kPageBytes * kPageBytes, MADV_HUGEPAGE);
}

}  // namespace

void ReserveTable(EntryTable& table) {
  const std::size_t most_entries = (TotalLogBytes() + kLogTermIds.size()) / kShortestRecordBytes;
  try {
    table.reserve(most_entries);
  } catch (const std::bad_alloc&) {
    return;  // growing as it goes may still fit the entries that are really there
  } catch (const std::length_error&) {
    return;
  }
  AdviseLargePages(table);
}
