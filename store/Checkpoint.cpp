// SPDX-License-Identifier: Apache-2.0
// The checkpoint: what the records changed made durable, then the journal emptied.
#include <cerrno>
#include <set>

#include "DataFiles.h"
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

bool CheckpointJournal(Journal& journal) {
  if (journal.fd < 0) return true;
  if (!journal.writable) {
    errno = EACCES;
    ReportFileError(DataPath(kJournalName));
    return false;
  }
  // A journal shorter than its size (made by version 1.0.0, or cut short) is made whole here.
  const std::uint64_t to =
      journal.size < kJournalBytes ? std::uint64_t{kJournalBytes} : journal.scan.dirty_end;
  if (!SyncJournaledBooks(journal) || !WipeJournal(journal, 0, to)) return false;
  journal.scan = JournalScan{};
  if (journal.size < to) journal.size = to;
  return true;
}
