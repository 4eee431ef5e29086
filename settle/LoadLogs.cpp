#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <string>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "DataFiles.h"
#include "LoadLog.h"

namespace {

constexpr std::size_t kLogs = kLogTermIds.size();

// The six logs, open, and the order in which the threads take them: largest first, so the
// last one taken is short and no thread waits long for the others.
struct OpenLogs {
  std::array<int, kLogs> fds{};
  std::array<std::string, kLogs> paths;
  std::array<std::size_t, kLogs> order{};
  std::array<LoadOutcome, kLogs> outcomes{};
  std::atomic<std::size_t> next{0};
};

bool OpenAll(OpenLogs& logs) {
  std::array<std::size_t, kLogs> bytes{};
  for (std::size_t i = 0; i < kLogs; ++i) {
    logs.paths[i] = DataPath(LogFileName(kLogTermIds[i]));
    logs.fds[i] = open(logs.paths[i].c_str(), O_RDONLY | O_CLOEXEC);
    struct stat info {};
    if (logs.fds[i] < 0) {
      ReportFileError(logs.paths[i]);
      std::for_each(logs.fds.begin(), logs.fds.begin() + static_cast<long>(i), CloseFile);
      return false;
    }
    if (fstat(logs.fds[i], &info) == 0) bytes[i] = static_cast<std::size_t>(info.st_size);
    logs.order[i] = i;
  }
  std::stable_sort(logs.order.begin(), logs.order.end(),
                   [&bytes](std::size_t a, std::size_t b) { return bytes[a] > bytes[b]; });
  return true;
}

// One thread's work: the next log not yet taken, until none is left. Each log fills only its
// own block, so the threads share nothing but the counter.
void TakeLogs(OpenLogs& logs, EntryTable& table) {
  for (std::size_t taken = logs.next++; taken < kLogs; taken = logs.next++) {
    const std::size_t i = logs.order[taken];
    // Filled here and moved in whole: the blocks' own records lie side by side in the table,
    // and a thread appending to one would slow the thread appending to its neighbour.
    EntryBlock block;
    logs.outcomes[i] = ReadLog(logs.fds[i], logs.paths[i], block);
    table[i] = std::move(block);
  }
}

}  // namespace

bool LoadLogs(EntryTable& table, unsigned threads) {
  OpenLogs logs;
  if (!OpenAll(logs)) return false;
  table.assign(kLogs, EntryBlock());
  std::vector<std::thread> helpers;
  for (unsigned i = 1; i < std::min<std::size_t>(threads, kLogs); ++i) {
    try {
      helpers.emplace_back(TakeLogs, std::ref(logs), std::ref(table));
    } catch (const std::system_error&) {
      break;  // fewer threads take longer, nothing else
    }
  }
  TakeLogs(logs, table);
  for (std::thread& helper : helpers) helper.join();
  std::for_each(logs.fds.begin(), logs.fds.end(), CloseFile);
  return std::none_of(logs.outcomes.begin(), logs.outcomes.end(),
                      [](LoadOutcome o) { return o == LoadOutcome::kUnreadable; });
}
