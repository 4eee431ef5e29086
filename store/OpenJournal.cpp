// SPDX-License-Identifier: Apache-2.0
// The journal's file: opened and read, or made new, and closed.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>

#include "DataFiles.h"
#include "FileSeam.h"
#include "Journal.h"

namespace {

// Larger than any journal or 1.0.0 commit record: anything longer is not one.
constexpr std::size_t kLongestJournalFile = 2 * kJournalBytes;

// The boot as a record names it: one word, "-" when the machine does not tell, which makes
// every record count as written before a restart.
std::string ThisBoot() {
  std::string boot = BootId();
  for (char& c : boot) {
    if (!std::isgraph(static_cast<unsigned char>(c))) c = '_';
  }
  return boot.empty() || boot.size() > 64 ? "-" : boot;
}

}  // namespace

bool CreateJournal(Journal& journal) {
  const std::string path = DataPath(kJournalName);
  journal.fd = OpenCreating(path, O_RDWR | O_EXCL | O_NOFOLLOW | O_CLOEXEC);
  journal.writable = true;
  journal.size = 0;
  journal.scan = JournalScan{};  // what a damaged one held is in place and durable
  if (journal.fd < 0) {
    ReportFileError(path);
    return false;
  }
  if (!WipeJournal(journal, 0, kJournalBytes) || !SyncDirectoryOf(path)) return false;
  journal.size = kJournalBytes;
  return true;
}

bool OpenJournal(const BookRules& rules, Journal& journal) {
  journal.boot = ThisBoot();
  journal.rules = rules;
  const std::string path = DataPath(kJournalName);
  journal.fd = OpenOwnFile(path, false, journal.writable);
  if (journal.fd < 0 && errno == ENOENT) return true;
  if (journal.fd < 0) return false;
  struct stat info {};
  std::optional<std::string> read;
  if (fstat(journal.fd, &info) == 0) {
    if (static_cast<std::uint64_t>(info.st_size) > kLongestJournalFile)
      errno = EFBIG;
    else
      read = ReadFrom(journal.fd, static_cast<std::size_t>(info.st_size));
  }
  if (!read) {
    ReportFileError(path);
    return false;
  }
  journal.size = read->size();
  journal.scan = ScanJournal(*read, rules);
  return true;
}

void CloseJournal(Journal& journal) {
  CloseFile(journal.fd);
  journal.fd = -1;
}
