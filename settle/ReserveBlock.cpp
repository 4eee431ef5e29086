#include <sys/mman.h>

#include <cstdint>
#include <new>
#include <stdexcept>

#include "LoadLog.h"

namespace {

// The shortest record: eleven one-character fields, ten blanks between them and one after.
constexpr std::size_t kShortestRecordBytes = 22;
constexpr std::size_t kPageBytes = 4096;

// Asks for large pages on the whole pages of the block. Only advice: when the kernel has none
// to give, the block works the same.
void AdviseLargePages(EntryBlock& block) {
  char* const start = reinterpret_cast<char*>(block.data());
  const auto address = reinterpret_cast<std::uintptr_t>(start);
  const std::size_t skip = (kPageBytes - address % kPageBytes) % kPageBytes;
  const std::size_t bytes = block.capacity() * sizeof(FareEntry);
  if (bytes <= skip + kPageBytes) return;
  madvise(start + skip, (bytes - skip) / kPageBytes * kPageBytes, MADV_HUGEPAGE);
}

}  // namespace

void ReserveBlock(EntryBlock& block, std::size_t log_bytes) {
  try {
    block.reserve(block.size() + log_bytes / kShortestRecordBytes + 1);
  } catch (const std::bad_alloc&) {
    return;  // growing as it goes may still fit the entries that are really there
  } catch (const std::length_error&) {
    return;
  }
  AdviseLargePages(block);
}
