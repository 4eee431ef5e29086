// SPDX-License-Identifier: Apache-2.0
#include <cerrno>
#include <set>

#include "DataFiles.h"
#include "FileSeam.h"
#include "Journal.h"

// The directory of the card's real file is where it was renamed; the data directory is where a
// log may have been created.
bool SyncJournaledBooks(const Journal& journal) {
  const std::vector<JournalRecord>& records = journal.scan.records;
  if (records.empty()) return true;
  const std::string card = DataPath(journal.rules.card_name);
  const auto real = RealPathOf(card);
  bool ok = real && SyncFileAt(*real) && SyncDirectoryOf(*real) &&
            (DirectoryOf(*real) == DirectoryOf(card) || SyncDirectoryOf(card));
  std::set<std::string> logs;
  for (const JournalRecord& record : records) {
    if (!record.commit.log.name.empty()) logs.insert(record.commit.log.name);
  }
  for (const std::string& log : logs) ok = ok && SyncFileAt(DataPath(log));
  return ok;
}

bool WrittenThisBoot(const Journal& journal, const JournalRecord& record) {
  return record.boot == journal.boot && journal.boot != "-";
}

bool ApplyJournal(Journal& journal) {
  std::vector<JournalRecord>& records = journal.scan.records;
  if (records.empty()) return true;
  // Each record holds the whole card, so the last one's is the card they all leave.
  if (!ApplyLogLines(records) || !ApplyCardLine(journal.rules, records.back().commit.card_line)) {
    return false;
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
  if (!ApplyJournal(journal) || !SyncJournaledBooks(journal) || !WipeJournal(journal, 0, to)) {
    return false;
  }
  journal.scan = JournalScan{};
  if (journal.size < to) journal.size = to;
  return true;
}
