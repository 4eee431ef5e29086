// SPDX-License-Identifier: Apache-2.0
// The writes recovery decides on: a record's appends and its card put back where they are not,
// what is written over named.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <set>

#include "DataFiles.h"
#include "FileSeam.h"
#include "Journal.h"

namespace {

void SayAppendPutBack(const std::string& path, std::uint64_t at, const JournalRecord& record) {
  std::fprintf(stderr,
               "%s: %s: byte %" PRIu64 ": not what the journal's record at byte %" PRIu64
               " holds; put back as it holds it\n",
               program_invocation_short_name, path.c_str(), at, record.offset);
}

// PutAppendsBack for file |name|: one read takes in every append there; what follows an append
// written is the later records' to put back.
bool PutAppendsBackTo(const std::vector<JournalRecord>& records, const std::string& name) {
  const std::string path = DataPath(name);
  // Opened for writing only once something must be written: whoever may read the books can
  // then take the lock while all is in place.
  int fd = OpenDataFile(path, O_RDONLY);
  bool writable = fd < 0 && errno == ENOENT;
  if (writable) fd = OpenDataFile(path, O_RDWR | O_CREAT);
  struct stat info {};
  bool ok = fd >= 0 && fstat(fd, &info) == 0;
  auto size = ok ? static_cast<std::uint64_t>(info.st_size) : 0;
  bool read = false;
  std::uint64_t base = 0;  // where the bytes read, |there|, stand in the file
  std::string there;
  for (const JournalRecord& record : records) {
    for (const AppendAt& append : record.change.appends) {
      if (!ok || append.name != name) continue;
      const std::uint64_t at = std::min(append.at, size);
      if (!read) {
        read = true;
        base = at;
        there = ReadFrom(fd, std::min<std::uint64_t>(size - at, kJournalBytes), at).value_or("");
      }
      const std::string_view found =
          at >= base && at - base <= there.size()
              ? std::string_view(there).substr(at - base, append.bytes.size())
              : std::string_view();
      if (found == append.bytes) continue;
      // A file cut short ends in a part of the bytes, or none: filling it is the ordinary case
      // of a change cut off or of writes lost. Other bytes there were written by someone else.
      if (!append.bytes.starts_with(found)) SayAppendPutBack(path, at, record);
      if (!writable) {
        CloseFile(fd);
        fd = OpenDataFile(path, O_RDWR);
        writable = true;
      }
      ok = fd >= 0 && (size == at || SeamTruncate(fd, static_cast<off_t>(at)) == 0) &&
           WriteAllAt(fd, append.bytes, at);
      size = at + append.bytes.size();
      base = at;
      there = append.bytes;
    }
  }
  if (fd >= 0 && close(fd) != 0) ok = false;
  if (!ok && fd >= 0) ReportFileError(path);
  return ok;
}

}  // namespace

bool PutAppendsBack(const std::vector<JournalRecord>& records) {
  std::set<std::string_view> done;
  for (const JournalRecord& record : records) {
    for (const AppendAt& append : record.change.appends) {
      if (done.insert(append.name).second && !PutAppendsBackTo(records, append.name)) return false;
    }
  }
  return true;
}

std::optional<std::string> ReadCard(const BookRules& rules) {
  // One byte more than a card may hold: a file that long is no card a record holds.
  return ReadFilePrefix(DataPath(rules.card_name), kLongestCard + 1);
}

bool PutCardBack(const BookRules& rules, const JournalRecord& record, bool over_whole_card) {
  const std::string path = DataPath(rules.card_name);
  if (over_whole_card) {
    std::fprintf(stderr,
                 "%s: %s: an earlier card of the journal's; put back as its record at byte %" PRIu64
                 " holds it\n",
                 program_invocation_short_name, path.c_str(), record.offset);
  }
  return ReplaceFile(path, record.change.card_line, false);
}
