// SPDX-License-Identifier: Apache-2.0
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <set>

#include "DataFiles.h"
#include "FileSeam.h"
#include "Journal.h"

namespace {

// Makes log |name| hold the line of each of |records| that goes to it, at its recorded length
// (at the end of a log found shorter), writing only what differs. One read takes in every line
// they put there; what follows a line written is the later records' to put back.
bool ApplyLog(const std::vector<JournalRecord>& records, const std::string& name) {
  const std::string path = DataPath(name);
  const int fd = OpenDataFile(path, O_RDWR | O_CREAT);
  struct stat info {};
  bool ok = fd >= 0 && fstat(fd, &info) == 0;
  auto size = ok ? static_cast<std::uint64_t>(info.st_size) : 0;
  bool read = false;
  std::uint64_t base = 0;  // where the bytes read, |there|, stand in the log
  std::string there;
  for (const JournalRecord& record : records) {
    const CardCommit& commit = record.commit;
    if (!ok || commit.log.name != name) continue;
    const std::uint64_t at = std::min(commit.log_length, size);
    if (!read) {
      read = true;
      base = at;
      there = ReadFrom(fd, std::min<std::uint64_t>(size - at, kJournalBytes), at).value_or("");
    }
    if (at >= base && at - base <= there.size() &&
        there.compare(at - base, commit.log.line.size(), commit.log.line) == 0) {
      continue;
    }
    ok = (size == at || SeamTruncate(fd, static_cast<off_t>(at)) == 0) &&
         WriteAllAt(fd, commit.log.line, at);
    size = at + commit.log.line.size();
    base = at;
    there = commit.log.line;
  }
  if (fd >= 0 && close(fd) != 0) ok = false;
  if (!ok && fd >= 0) ReportFileError(path);
  return ok;
}

}  // namespace

bool ApplyLogLines(const std::vector<JournalRecord>& records) {
  std::set<std::string_view> done;
  for (const JournalRecord& record : records) {
    const std::string& name = record.commit.log.name;
    if (!name.empty() && done.insert(name).second && !ApplyLog(records, name)) return false;
  }
  return true;
}

bool ApplyCardLine(const BookRules& rules, std::string_view card_line) {
  const std::string path = DataPath(rules.card_name);
  // Anything longer than the longest card line cannot be the same card.
  const auto card = ReadFilePrefix(path, kLongestJournalLine + 1);
  return (card && *card == card_line) || ReplaceFile(path, card_line, false);
}
