// SPDX-License-Identifier: Apache-2.0
#include "FileChanges.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "Clock.h"
#include "FileSeam.h"

namespace {

bool recording = false;
std::vector<FileChange> changes;
std::size_t made = 0;
std::size_t fail_from = 0;
std::size_t fail_count = 0;
int fail_error = 0;
std::string boot_id = "test-boot";
std::int64_t now = 1401959220;  // 2014-06-05 09:07:00 UTC

std::string LastPart(const char* path) {
  const std::string text(path);
  return text.substr(text.rfind('/') + 1);
}

std::uint64_t InodeOf(int fd) {
  struct stat info {};
  return fstat(fd, &info) == 0 ? info.st_ino : 0;
}

// Counts a change about to be made; false when it is to fail instead.
bool Allowed() {
  ++made;
  if (fail_from == 0 || made < fail_from || made - fail_from >= fail_count) return true;
  errno = fail_error;
  return false;
}

void Record(FileChange change) {
  if (recording) changes.push_back(std::move(change));
}

// Records |change| when the call it stands for succeeded (|rc| not negative); returns |rc|.
template <typename Rc>
Rc Made(Rc rc, FileChange change) {
  if (rc >= 0) Record(std::move(change));
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

std::size_t ChangesMade() { return made; }

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
  if (fd >= 0 && creates) Record({FileChange::kCreate, InodeOf(fd), LastPart(path), {}, 0, {}});
  return fd;
}

ssize_t SeamWrite(int fd, const void* bytes, std::size_t size, off_t offset) {
  if (!Allowed()) return -1;
  const ssize_t n = pwrite(fd, bytes, size, offset);
  const std::string written(static_cast<const char*>(bytes),
                            n > 0 ? static_cast<std::size_t>(n) : 0);
  return Made(
      n, {FileChange::kWrite, InodeOf(fd), {}, {}, static_cast<std::uint64_t>(offset), written});
}

int SeamTruncate(int fd, off_t length) {
  if (!Allowed()) return -1;
  const auto at = static_cast<std::uint64_t>(length);
  return Made(ftruncate(fd, length), {FileChange::kTruncate, InodeOf(fd), {}, {}, at, {}});
}

// A change of mode or owner is counted, so that a disk that gives up refuses it as it refuses
// the rest, but not recorded: a power cut's model keeps names and bytes, which it leaves alone.
int SeamChangeMode(int fd, mode_t mode) { return Allowed() ? fchmod(fd, mode) : -1; }

int SeamChangeOwner(int fd, uid_t owner, gid_t group) {
  return Allowed() ? fchown(fd, owner, group) : -1;
}

// What a power cut keeps is the tests' model to work out, not the disk's: no flush is made.
int SeamSync(int fd) {
  const bool allowed = Allowed();
  const int saved = errno;
  Record({FileChange::kSync, InodeOf(fd), {}, {}, 0, {}});
  errno = saved;
  return allowed ? 0 : -1;
}

int SeamSyncDirectory(int fd) {
  return Allowed() ? Made(0, {FileChange::kSyncDirectory, InodeOf(fd), {}, {}, 0, {}}) : -1;
}

int SeamRename(const char* from, const char* to, unsigned flags) {
  if (!Allowed()) return -1;
  const auto kind = flags == RENAME_EXCHANGE ? FileChange::kExchange : FileChange::kRename;
  return Made(renameat2(AT_FDCWD, from, AT_FDCWD, to, flags),
              {kind, 0, LastPart(from), LastPart(to), 0, {}});
}

int SeamRemove(const char* path) {
  if (!Allowed()) return -1;
  return Made(unlink(path), {FileChange::kRemove, 0, LastPart(path), {}, 0, {}});
}
