// SPDX-License-Identifier: Apache-2.0
// The system's own files (the locks, the journal) decide what is charged, so one is used only
// when nobody but the people the data directory trusts can have made it or can write it.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "DataFiles.h"
#include "FileSeam.h"

namespace {

constexpr int kOwnFlags = O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;

// Opens |path| for |access| without following a link, or without waiting on a FIFO; a missing
// one is created exclusively when |create|.
int OpenWithoutFollowing(const std::string& path, int access, bool create) {
  int fd = open(path.c_str(), access | kOwnFlags);
  if (fd < 0 && errno == ENOENT && create) {
    fd = OpenCreating(path, access | O_EXCL | kOwnFlags);
    // Made by another program between the two: then it is that one's, and is looked at.
    if (fd < 0 && errno == EEXIST) fd = open(path.c_str(), access | kOwnFlags);
  }
  return fd;
}

// Whether |file| in |dir| was made by someone the directory trusts. Where everyone may make
// files, only the user running the program, root and the directory's owner can be told from a
// planter; where only the directory's owner and group may, every file there is one of theirs.
bool MadeByTheTrusted(const struct stat& file, const struct stat& dir) {
  return (dir.st_mode & S_IWOTH) == 0 || file.st_uid == geteuid() || file.st_uid == 0 ||
         file.st_uid == dir.st_uid;
}

}  // namespace

bool MayTrust(const std::string& path, int fd) {
  struct stat file {};
  struct stat dir {};
  if (fstat(fd, &file) != 0 || stat(DirectoryOf(path).c_str(), &dir) != 0) return false;
  // A second name could be another user's way into a file of root's.
  if (!S_ISREG(file.st_mode) || file.st_nlink != 1) return false;
  const bool others_write =
      (file.st_mode & S_IWOTH) != 0 || ((file.st_mode & S_IWGRP) != 0 && file.st_gid != dir.st_gid);
  return !others_write && MadeByTheTrusted(file, dir);
}

bool MayRemove(const std::string& path) {
  struct stat entry {};
  struct stat dir {};
  return lstat(path.c_str(), &entry) == 0 && stat(DirectoryOf(path).c_str(), &dir) == 0 &&
         MadeByTheTrusted(entry, dir);
}

int OpenOwnFile(const std::string& path, bool create, bool& writable) {
  int fd = OpenWithoutFollowing(path, O_RDWR, create);
  writable = fd >= 0;
  // A reader in a directory it may not write to can still use an existing file; when there is
  // none, the refusal to make it is the cause to name.
  if (fd < 0 && (errno == EACCES || errno == EROFS)) {
    const int refused = errno;
    fd = OpenWithoutFollowing(path, O_RDONLY, false);
    if (fd < 0 && errno == ENOENT) errno = refused;
  }
  if (fd < 0 && errno == ELOOP) {
    std::fprintf(stderr, "%s: %s: a link where the system's own file belongs: not followed\n",
                 program_invocation_short_name, path.c_str());
    errno = ELOOP;
    return -1;
  }
  if (fd < 0) {
    if (errno != ENOENT || create) ReportFileError(path);
    return -1;
  }
  if (!MayTrust(path, fd)) {
    close(fd);
    std::fprintf(
        stderr, "%s: %s: not the system's own (another user's, or others may write it): not used\n",
        program_invocation_short_name, path.c_str());
    errno = EPERM;
    return -1;
  }
  return fd;
}
