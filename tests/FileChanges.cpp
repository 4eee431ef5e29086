// SPDX-License-Identifier: Apache-2.0
#include "FileChanges.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include <gtest/gtest.h>

#include "Clock.h"
#include "FileSeam.h"

namespace {

// A program's path that ends the process with exit(0) (a card that cannot be read, a wrong mode)
// would end a test in this process as a pass: it fails it instead.
[[maybe_unused]] const int kExitInATestFails = std::atexit([] {
  if (testing::UnitTest::GetInstance()->current_test_info() != nullptr &&
      !testing::internal::InDeathTestChild())
    _exit(1);
});

bool recording = false;
std::vector<FileChange> changes;
std::size_t made = 0, fail_from = 0, fail_count = 0;
int fail_error = 0;
std::string boot_id = "test-boot";
std::int64_t now = 1401959220;  // 2014-06-05 09:07:00 UTC
// Counts a change about to be made; false when it is to fail instead.
bool Allowed() {
  ++made;
  if (fail_from == 0 || made < fail_from || made - fail_from >= fail_count) return true;
  errno = fail_error;
  return false;
}
// Records a change of the file open as |fd| (-1: none) or of the entry |path| if it was made.
template <typename Rc>
Rc Made(Rc rc, FileChange::Kind kind, int fd, std::string path = {}, std::string to = {},
        off_t offset = 0, std::string bytes = {}) {
  struct stat info {};
  if (rc < 0 || !recording) return rc;
  const std::uint64_t file = fd >= 0 && fstat(fd, &info) == 0 ? info.st_ino : 0;
  path.erase(0, path.rfind('/') + 1);  // npos + 1 is 0: a name without a directory stays whole
  to.erase(0, to.rfind('/') + 1);
  const auto at = static_cast<std::uint64_t>(offset);
  changes.push_back({kind, file, std::move(path), std::move(to), at, std::move(bytes)});
  return rc;
}

}  // namespace

void StartRecording() {
  changes.clear();
  made = 0;
  recording = true;
}
std::vector<FileChange> StopRecording() {
  recording = false;
  return std::move(changes);
}
void FailChangesFrom(std::size_t step, int error, std::size_t count) {
  fail_from = step;
  fail_count = count;
  fail_error = error;
  made = 0;
}
void SetBootId(std::string boot) { boot_id = std::move(boot); }
std::string BootId() { return boot_id; }
void SetCurrentTime(std::int64_t seconds) { now = seconds; }
std::int64_t CurrentTime() { return now; }

int SeamOpen(const char* path, int flags, mode_t mode) {
  struct stat before {};
  const bool creates = (flags & O_CREAT) != 0 && lstat(path, &before) != 0;
  if (creates && !Allowed()) return -1;
  const int fd = open(path, flags, mode);
  return creates && fd >= 0 ? Made(fd, FileChange::kCreate, fd, path) : fd;
}
ssize_t SeamWrite(int fd, const void* bytes, std::size_t size, off_t offset) {
  if (!Allowed()) return -1;
  const ssize_t n = pwrite(fd, bytes, size, offset);
  const std::size_t written = n > 0 ? static_cast<std::size_t>(n) : 0;
  return Made(n, FileChange::kWrite, fd, {}, {}, offset,
              {static_cast<const char*>(bytes), written});
}
int SeamTruncate(int fd, off_t length) {
  return Allowed() ? Made(ftruncate(fd, length), FileChange::kTruncate, fd, {}, {}, length) : -1;
}
// Counted, for a disk that gives up refuses them too; not recorded, as they leave bytes alone.
int SeamChangeMode(int fd, mode_t mode) { return Allowed() ? fchmod(fd, mode) : -1; }
int SeamChangeOwner(int fd, uid_t uid, gid_t gid) { return Allowed() ? fchown(fd, uid, gid) : -1; }
// No flush is made: what a power cut keeps is the tests' model to work out. Failed, it is recorded.
int SeamSync(int fd) { return Made(0, FileChange::kSync, fd), Allowed() ? 0 : -1; }
int SeamSyncDirectory(int fd) { return Allowed() ? Made(0, FileChange::kSyncDirectory, fd) : -1; }
int SeamRename(const char* from, const char* to, unsigned flags) {
  const auto kind = flags == RENAME_EXCHANGE ? FileChange::kExchange : FileChange::kRename;
  return Allowed() ? Made(renameat2(AT_FDCWD, from, AT_FDCWD, to, flags), kind, -1, from, to) : -1;
}
int SeamRemove(const char* path) {
  return Allowed() ? Made(unlink(path), FileChange::kRemove, -1, path) : -1;
}
