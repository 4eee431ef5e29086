// SPDX-License-Identifier: Apache-2.0
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "BookFiles.h"
#include "Clock.h"
#include "DataFiles.h"
#include "Settle.h"

namespace {

// One settlement of kept runs at a time: another would take back the runs this one is reading.
constexpr std::string_view kSettleLockName = "settle.lock";

// Where the kept runs of one log lie: beside the file it names.
struct RunPlace {
  std::string dir;  // with its slash
  std::string log_name;
};

std::optional<std::vector<RunPlace>> Places() {
  std::vector<RunPlace> places;
  for (const std::int32_t term : kLogTermIds) {
    const std::string log_name = LogFileName(term);
    const auto real = RealPathOf(DataPath(log_name));
    if (!real) return std::nullopt;
    places.push_back({DirectoryOf(*real), log_name});
  }
  return places;
}

// Under the card lock, sorts the kept runs of |places|, once every split a start left half done
// is finished. A run named for a settlement the settlements hold becomes settled; one named for
// a settlement that never was committed is not settled after all. With a |batch|, every run not
// settled is named for it (and flushed so) and its path returned: the runs that settlement, and
// no other, settles. Nothing, said, on a failure.
std::optional<std::vector<std::string>> SortRuns(const std::vector<RunPlace>& places,
                                                 const std::string& batch) {
  HeldBooks books = LockBooks(kCardBooks);
  if (!Held(books)) return std::nullopt;
  const auto read = ReadFilePrefix(DataPath(kSettlementsName), kLongestSettlements);
  if (!read && errno != ENOENT) return std::nullopt;  // not known: nothing may be taken back
  const std::string settlements = "\n" + read.value_or("");
  std::vector<std::string> runs;
  bool checkpointed = false;
  for (const RunPlace& place : places) {
    const auto names = FinishSplits(place.dir, place.log_name)
                           ? EntriesStartingWith(place.dir, place.log_name + ".run-")
                           : std::nullopt;
    if (!names) return std::nullopt;
    bool renamed = false;
    for (const std::string& name : *names) {
      const std::size_t suffix = name.rfind('.');
      const std::string stem = place.dir + name.substr(0, suffix);
      const std::string_view is = std::string_view(name).substr(suffix);
      const bool settling = is.starts_with(kSettlingSuffix);
      std::string to;
      if (settling && settlements.find("\nruns " + std::string(is.substr(kSettlingSuffix.size())) +
                                       "\n") != std::string::npos) {
        // Settled only once its lines are on the disk in the reports: a disk that lost writes
        // could otherwise take the settlement back and leave its runs named settled.
        if (!checkpointed && !(checkpointed = CheckpointBooks(books))) return std::nullopt;
        to = stem + std::string(kSettledSuffix);
      } else if (settling || is == kUnsettledSuffix) {
        to = stem;
        to += batch.empty() ? std::string(kUnsettledSuffix) : std::string(kSettlingSuffix) + batch;
        if (!batch.empty()) runs.push_back(to);
      }
      if (to.empty() || to == place.dir + name) continue;
      if (!RenameEntry(place.dir + name, to)) return std::nullopt;
      renamed = true;
    }
    // Named for the settlement on the disk before its commit: else a power cut could bring back
    // runs it settled as not settled.
    if (renamed && !SyncDirectoryOf(place.dir + place.log_name)) return std::nullopt;
  }
  UnlockBooks(books);
  return runs;
}

}  // namespace

bool SortKeptRuns() {
  const auto places = Places();
  return places && SortRuns(*places, "");
}

void SettleKeptRuns() {
  const int lock = LockFile(DataPath(kSettleLockName));
  const auto places = lock >= 0 ? Places() : std::nullopt;
  const std::string batch =
      KeptRunName("", CurrentTime()).substr(5) + "-" + std::to_string(getpid());  // its stamp
  const auto runs = places ? SortRuns(*places, batch) : std::nullopt;
  EntryTable table;
  bool loaded = runs.has_value();
  for (std::size_t i = 0; loaded && i < runs->size(); ++i) {
    LogSnapshot run;
    loaded =
        OpenLog((*runs)[i], run) && ReadLog(run, table.emplace_back()) != LoadOutcome::kUnreadable;
    CloseFile(run.fd);
  }
  if (loaded) {
    std::size_t count = 0;
    for (const EntryBlock& block : table) count += block.size();
    Non_Ad_Calculator(table, count, "runs " + batch + "\n");
  } else {
    std::puts("Cannot find DB!");
  }
  // Settled if the settlement was committed, else not: a failure here leaves the runs named
  // for it, which the next settlement of kept runs sorts.
  if (places) (void)SortRuns(*places, "");
  UnlockFile(lock);
}
