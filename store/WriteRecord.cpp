// SPDX-License-Identifier: Apache-2.0
// The journal's writer: a record formatted, appended and taken through the commit point, its
// mark, and zeros written over what must not be read again.
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

std::string FormatJournalRecord(const Change& change, std::string_view epoch,
                                std::string_view boot) {
  std::string record(kRecordMagic);
  record += kPendingMark;
  record.append(" ").append(epoch).append(" ").append(boot);
  char sizes[96];
  std::snprintf(sizes, sizeof sizes, " %zu %zu %zu", change.card_before.size(),
                change.card_line.size(), change.appends.size());
  record += sizes;
  for (const AppendAt& append : change.appends) {
    std::snprintf(sizes, sizeof sizes, " %zu %" PRIu64 " %zu", append.name.size(), append.at,
                  append.bytes.size());
    record += sizes;
  }
  record.append("\n").append(change.card_before).append(change.card_line);
  for (const AppendAt& append : change.appends) record.append(append.name).append(append.bytes);
  char sum[24];
  std::snprintf(sum, sizeof sum, "%016" PRIx64 "\n",
                RecordChecksum(std::string_view(record).substr(kMarkOffset + 1)));
  return record + sum;
}

bool AppendJournalRecord(Journal& journal, const Change& change) {
  if (journal.scan.epoch.empty()) journal.scan.epoch = NewEpoch();
  JournalRecord record{change, journal.scan.end, kPendingMark, journal.boot};
  const std::string bytes = FormatJournalRecord(change, journal.scan.epoch, record.boot);
  if (WriteAllAt(journal.fd, bytes, record.offset) && CommitPoint(journal, record)) {
    journal.scan.end += bytes.size();
    journal.scan.dirty_end = journal.scan.end;
    journal.scan.records.push_back(record);
    return true;
  }
  const int saved = errno;
  // Whether it reached the disk is unknown; it must not be found whole by anyone.
  (void)WriteAllAt(journal.fd, std::string(bytes.size(), '\0'), record.offset);
  (void)SeamSync(journal.fd);
  errno = saved;
  ReportFileError(DataPath(kJournalName));
  return false;
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

bool WipeJournal(Journal& journal, std::uint64_t from, std::uint64_t to) {
  const bool ok = from >= to || (WriteAllAt(journal.fd, std::string(to - from, '\0'), from) &&
                                 SeamSync(journal.fd) == 0);
  if (!ok) ReportFileError(DataPath(kJournalName));
  return ok;
}
