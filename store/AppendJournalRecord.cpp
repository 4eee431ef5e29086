// SPDX-License-Identifier: Apache-2.0
#include <sys/random.h>
#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <ctime>

#include "DataFiles.h"
#include "FileSeam.h"
#include "Journal.h"

namespace {

// A new generation's name, unlike any earlier one's: records a checkpoint cut short left
// behind are then never taken for this generation's.
std::string NewEpoch() {
  std::uint64_t value = 0;
  if (getrandom(&value, sizeof value, 0) != sizeof value) {
    value =
        static_cast<std::uint64_t>(time(nullptr)) * 1000003 ^ static_cast<std::uint64_t>(getpid());
  }
  char text[24];
  std::snprintf(text, sizeof text, "%016" PRIx64, value);
  return text;
}

}  // namespace

std::optional<JournalRecord> AppendJournalRecord(Journal& journal, const Change& change) {
  if (journal.scan.epoch.empty()) journal.scan.epoch = NewEpoch();
  JournalRecord record{change, journal.scan.end, kPendingMark, journal.boot};
  const std::string bytes = FormatJournalRecord(change, journal.scan.epoch, record.boot);
  if (WriteAllAt(journal.fd, bytes, record.offset) && CommitPoint(journal, record)) {
    journal.scan.end += bytes.size();
    journal.scan.dirty_end = journal.scan.end;
    journal.scan.records.push_back(record);
    return record;
  }
  const int saved = errno;
  // Whether it reached the disk is unknown; it must not be found whole by anyone.
  (void)WriteAllAt(journal.fd, std::string(bytes.size(), '\0'), record.offset);
  (void)SeamSync(journal.fd);
  errno = saved;
  ReportFileError(DataPath(kJournalName));
  return std::nullopt;
}

bool CommitPoint(Journal& journal, JournalRecord& record) {
  return SeamSync(journal.fd) == 0 && MarkJournal(journal, record, kCommittedMark);
}

bool MarkJournal(Journal& journal, JournalRecord& record, char mark) {
  if (record.mark == mark) return true;
  if (!journal.writable) {
    errno = EACCES;
    return false;
  }
  if (SeamWrite(journal.fd, &mark, 1, static_cast<off_t>(record.offset + kMarkOffset)) != 1) {
    return false;
  }
  record.mark = mark;
  return true;
}
