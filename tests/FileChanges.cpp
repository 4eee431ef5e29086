// SPDX-License-Identifier: Apache-2.0
#include "FileChanges.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "FileSeam.h"

namespace {

bool recording = false;
std::vector<FileChange> changes;
std::size_t made = 0;
std::size_t fail_from = 0;
int fail_error = 0;
std::string boot_id = "test-boot";

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
  if (fail_from == 0 || made < fail_from) return true;
  errno = fail_error;
  return false;
}

void Record(FileChange change) {
  if (recording) changes.push_back(std::move(change));
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

void FailChangesFrom(std::size_t step, int error) {
  fail_from = step;
  fail_error = error;
  made = 0;
}

void SetBootId(std::string boot) { boot_id = std::move(boot); }

std::string BootId() { return boot_id; }

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
  if (n > 0) {
    Record({FileChange::kWrite,
            InodeOf(fd),
            {},
            {},
            static_cast<std::uint64_t>(offset),
            std::string(static_cast<const char*>(bytes), static_cast<std::size_t>(n))});
  }
  return n;
}

int SeamTruncate(int fd, off_t length) {
  if (!Allowed()) return -1;
  const int rc = ftruncate(fd, length);
  if (rc == 0) {
    Record({FileChange::kTruncate, InodeOf(fd), {}, {}, static_cast<std::uint64_t>(length), {}});
  }
  return rc;
}

int SeamSync(int fd) {
  if (!Allowed()) return -1;
  Record({FileChange::kSync, InodeOf(fd), {}, {}, 0, {}});
  return 0;  // what a power cut keeps is the tests' model to work out, not the disk's
}

int SeamSyncDirectory(int fd) {
  if (!Allowed()) return -1;
  Record({FileChange::kSyncDirectory, InodeOf(fd), {}, {}, 0, {}});
  return 0;
}

int SeamRename(const char* from, const char* to, unsigned flags) {
  if (!Allowed()) return -1;
  const int rc = renameat2(AT_FDCWD, from, AT_FDCWD, to, flags);
  const auto kind = flags == RENAME_EXCHANGE ? FileChange::kExchange : FileChange::kRename;
  if (rc == 0) Record({kind, 0, LastPart(from), LastPart(to), 0, {}});
  return rc;
}

int SeamRemove(const char* path) {
  if (!Allowed()) return -1;
  const int rc = unlink(path);
  if (rc == 0) Record({FileChange::kRemove, 0, LastPart(path), {}, 0, {}});
  return rc;
}
