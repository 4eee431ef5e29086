// SPDX-License-Identifier: Apache-2.0
#include <sys/mman.h>

#include <algorithm>
#include <cstdint>
#include <new>
#include <stdexcept>

#include "LogFile.h"
#include "ScanLog.h"

namespace {

constexpr std::size_t kPageBytes = 4096;
// Room made resident at a time: a few hundred pages in one call.
constexpr std::size_t kPrefaultBytes = std::size_t{1} << 20;

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

void PrefaultBlock(EntryBlock& block, std::size_t more, std::size_t& resident) {
  const std::size_t room = block.capacity() * sizeof(FareEntry);
  const std::size_t need = std::min(room, (block.size() + more) * sizeof(FareEntry));
  if (need <= resident) return;
  const std::size_t upto = std::min(room, std::max(need, resident + kPrefaultBytes));
  char* const start = reinterpret_cast<char*>(block.data());
  // From the first whole page not yet resident; a page cut by the mark faults in as usual.
  const std::uintptr_t mark = reinterpret_cast<std::uintptr_t>(start + resident);
  const std::size_t from = resident + (kPageBytes - mark % kPageBytes) % kPageBytes;
  // Only advice: a kernel without it leaves the pages to be faulted in one by one.
  if (from < upto) madvise(start + from, upto - from, MADV_POPULATE_WRITE);
  resident = upto;
}
