// SPDX-License-Identifier: Apache-2.0
#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <set>

#include "DataFiles.h"
#include "FileSeam.h"
#include "Journal.h"

// The directory of the card's real file is where it was renamed; the data directory is where a
// file appended to may have been created.
bool SyncJournaledBooks(const Journal& journal) {
  const std::vector<JournalRecord>& records = journal.scan.records;
  if (records.empty()) return true;
  bool ok = true;
  std::set<std::string> appended;
  bool card_changed = false;
  for (const JournalRecord& record : records) {
    card_changed = card_changed || !record.change.card_line.empty();
    for (const AppendAt& append : record.change.appends) appended.insert(append.name);
  }
  const std::string card = DataPath(journal.rules.card_name);
  if (card_changed) {
    const auto real = RealPathOf(card);
    ok = real && SyncFileAt(*real) && SyncDirectoryOf(*real) &&
         (DirectoryOf(*real) == DirectoryOf(card) || SyncDirectoryOf(card));
  } else {
    ok = SyncDirectoryOf(card);  // where a file appended to may have been created
  }
  for (const std::string& name : appended) ok = ok && SyncFileAt(DataPath(name));
  return ok;
}

bool WrittenThisBoot(const Journal& journal, const JournalRecord& record) {
  return record.boot == journal.boot && journal.boot != "-";
}

bool ApplyJournal(Journal& journal, bool& outside) {
  std::vector<JournalRecord>& records = journal.scan.records;
  outside = false;
  if (records.empty()) return true;
  // The appends first: their charges were made, whatever became of the card since.
  if (!ApplyAppends(records)) return false;
  const auto card = ReadCard(journal.rules);
  const CardFound found = FindCard(journal, card);
  outside = found == CardFound::kOutside;
  if (found != CardFound::kInPlace && !outside) {
    // Each record holds the whole card, so the last one's is the card they all leave.
    const JournalRecord& last = *std::find_if(records.rbegin(), records.rend(),
                                              [](auto& r) { return !r.change.card_line.empty(); });
    const std::string path = DataPath(journal.rules.card_name);
    if (found == CardFound::kEarlier) {
      std::fprintf(
          stderr,
          "%s: %s: an earlier card of the journal's; put back as its record at byte %" PRIu64
          " holds it\n",
          program_invocation_short_name, path.c_str(), last.offset);
    }
    if (!ReplaceFile(path, last.change.card_line, false)) return false;
  }
  for (JournalRecord& record : records) (void)MarkJournal(journal, record, kAppliedMark);
  return true;
}

bool WipeJournal(Journal& journal, std::uint64_t from, std::uint64_t to) {
  const bool ok = from >= to || (WriteAllAt(journal.fd, std::string(to - from, '\0'), from) &&
                                 SeamSync(journal.fd) == 0);
  if (!ok) ReportFileError(DataPath(kJournalName));
  return ok;
}

bool CheckpointJournal(Journal& journal) {
  if (journal.fd < 0) return true;
  // A journal shorter than its size (made by version 1.0.0, or cut short) is made whole here.
  const std::uint64_t to =
      journal.size < kJournalBytes ? std::uint64_t{kJournalBytes} : journal.scan.dirty_end;
  if (journal.scan.records.empty() && to == 0) return true;
  if (!journal.writable) {
    errno = EACCES;
    ReportFileError(DataPath(kJournalName));
    return false;
  }
  bool outside = false;
  if (!ApplyJournal(journal, outside) || !SyncJournaledBooks(journal) ||
      !WipeJournal(journal, 0, to)) {
    return false;
  }
  journal.scan = JournalScan{};
  if (journal.size < to) journal.size = to;
  return true;
}
