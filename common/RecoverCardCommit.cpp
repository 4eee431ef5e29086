#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "Card.h"
#include "CardCommit.h"
#include "DataFiles.h"

namespace {

// Three fields of at most 4 KiB and the head: a longer record is damage, and reads as torn.
constexpr std::size_t kLongestRecord = 3 * 4096 + 128;

bool ClearRecord(const std::string& path) {
  const int fd = OpenDurably(path);
  const bool ok = fd >= 0 && WriteAtDurably(fd, 0, "", path);
  if (fd >= 0) close(fd);
  return ok;
}

}  // namespace

bool ApplyCommit(const CardCommit& commit) {
  if (!WriteFileInPlace(DataPath(kCardFileName), commit.card_line)) return false;
  if (commit.log.name.empty()) return true;
  const std::string path = DataPath(commit.log.name);
  const int fd = OpenDurably(path);
  if (fd < 0) return false;
  const auto size = FileSize(fd, path);
  // The line goes at the recorded length, over whatever part of it an interrupted append left.
  // A log found shorter (emptied by hand meanwhile) takes the line at its end, never after a gap.
  const bool ok =
      size && WriteAtDurably(fd, std::min(*size, commit.log_length), commit.log.line, path);
  close(fd);
  return ok;
}

bool RecoverCardCommit() {
  const std::string path = DataPath(kCommitRecordName);
  const auto record = ReadFilePrefix(path, kLongestRecord);
  if (!record) {
    if (errno == ENOENT) return true;
    ReportFileError(path);
    return false;
  }
  if (record->empty()) return true;
  // A torn record is dropped: nothing changes before the record is whole on the disk.
  const auto commit = ParseCommitRecord(*record);
  if (commit && !ApplyCommit(*commit)) return false;
  return ClearRecord(path);
}

bool CardCommitPending() {
  struct stat info {};
  return stat(DataPath(kCommitRecordName).c_str(), &info) == 0 && info.st_size > 0;
}

int LockCard() {
  const int lock = LockFile(DataPath(kCardLockName));
  if (lock < 0) return -1;
  if (!RecoverCardCommit()) {
    UnlockFile(lock);
    return -1;
  }
  return lock;
}
