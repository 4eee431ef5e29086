#include <cerrno>

#include "Card.h"
#include "CardCommit.h"
#include "DataFiles.h"

namespace {

// Three fields of at most 4 KiB and the head: a longer record is damage, and reads as torn.
constexpr std::size_t kLongestRecord = 3 * 4096 + 128;

}  // namespace

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
  return WriteFileAt(path, 0, "");
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
