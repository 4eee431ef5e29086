// SPDX-License-Identifier: Apache-2.0
#include <algorithm>
#include <array>
#include <atomic>
#include <functional>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "FareEntries.h"

namespace {

constexpr std::size_t kLogs = kLogTermIds.size();

// The order in which the threads take the logs: largest first, so the last one taken is short
// and no thread waits long for the others.
struct Loading {
  const LogSnapshots& logs;
  EntryTable& table;
  std::array<std::size_t, kLogs> order{};
  std::array<LoadOutcome, kLogs> outcomes{};
  std::atomic<std::size_t> next{0};
};

// One thread's work: the next log not yet taken, until none is left. Each log fills only its
// own block, so the threads share nothing but the counter.
void TakeLogs(Loading& loading) {
  for (std::size_t taken = loading.next++; taken < kLogs; taken = loading.next++) {
    const std::size_t i = loading.order[taken];
    // Filled here and moved in whole: the blocks' own records lie side by side in the table,
    // and a thread appending to one would slow the thread appending to its neighbour.
    EntryBlock block;
    loading.outcomes[i] = ReadLog(loading.logs[i], block);
    loading.table[i] = std::move(block);
  }
}

}  // namespace

bool LoadLogs(LogSnapshots& logs, EntryTable& table, unsigned threads) {
  table.assign(kLogs, EntryBlock());
  Loading loading{logs, table};
  for (std::size_t i = 0; i < kLogs; ++i) loading.order[i] = i;
  std::stable_sort(
      loading.order.begin(), loading.order.end(),
      [&logs](std::size_t a, std::size_t b) { return logs[a].length > logs[b].length; });
  std::vector<std::thread> helpers;
  for (unsigned i = 1; i < std::min<std::size_t>(threads, kLogs); ++i) {
    try {
      helpers.emplace_back(TakeLogs, std::ref(loading));
    } catch (const std::system_error&) {
      break;  // fewer threads take longer, nothing else
    }
  }
  TakeLogs(loading);
  for (std::thread& helper : helpers) helper.join();
  CloseLogs(logs);
  return std::none_of(loading.outcomes.begin(), loading.outcomes.end(),
                      [](LoadOutcome o) { return o == LoadOutcome::kUnreadable; });
}
