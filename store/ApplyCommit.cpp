// SPDX-License-Identifier: Apache-2.0
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "DataFiles.h"
#include "FileSeam.h"
#include "Journal.h"

namespace {

// Whether |fd| holds |bytes| at |offset|.
bool HoldsAt(int fd, std::string_view bytes, std::uint64_t offset) {
  std::string there(bytes.size(), '\0');
  const ssize_t n = pread(fd, there.data(), there.size(), static_cast<off_t>(offset));
  return n == static_cast<ssize_t>(bytes.size()) && there == bytes;
}

}  // namespace

bool ApplyLogLine(const CardCommit& commit) {
  if (commit.log.name.empty()) return true;
  const std::string path = DataPath(commit.log.name);
  const int fd = OpenDataFile(path, O_RDWR | O_CREAT);
  struct stat info {};
  bool ok = fd >= 0 && fstat(fd, &info) == 0;
  if (ok) {
    // The line goes at the recorded length, over whatever stands there; a log found shorter
    // (emptied by hand meanwhile) takes it at its end, never after a gap. What follows it is
    // the later records' to put back.
    const auto at = std::min(commit.log_length, static_cast<std::uint64_t>(info.st_size));
    if (!HoldsAt(fd, commit.log.line, at)) {
      ok = (static_cast<std::uint64_t>(info.st_size) == at ||
            SeamTruncate(fd, static_cast<off_t>(at)) == 0) &&
           WriteAllAt(fd, commit.log.line, at);
    }
  }
  if (fd >= 0 && close(fd) != 0) ok = false;
  if (!ok && fd >= 0) ReportFileError(path);
  return ok;
}

bool ApplyCardLine(const BookRules& rules, std::string_view card_line) {
  const std::string path = DataPath(rules.card_name);
  // Anything longer than the longest card line cannot be the same card.
  const auto card = ReadFilePrefix(path, kLongestJournalLine + 1);
  if (card && *card == card_line) return true;
  // Only a card line goes into the card file; a record is checked here, when it is put in
  // place, rather than every time the journal is read.
  if (!rules.is_card_line(card_line)) {
    errno = EINVAL;
    ReportFileError(path);
    return false;
  }
  return ReplaceFile(path, card_line, false);
}
