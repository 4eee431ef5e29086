// SPDX-License-Identifier: Apache-2.0
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "DataFiles.h"
#include "DirectoryRules.h"

namespace {

constexpr int kOwnFlags = O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;

// Opens |path| for |access|, never through a link nor waiting on a FIFO; |create| makes one.
int OpenWithoutFollowing(const std::string& path, int access, bool create) {
  int fd = open(path.c_str(), access | kOwnFlags);
  if (fd < 0 && errno == ENOENT && create) {
    fd = OpenCreating(path, access | O_EXCL | kOwnFlags);
    // Made by another program between the two: then it is that one's, and is looked at.
    if (fd < 0 && errno == EEXIST) fd = open(path.c_str(), access | kOwnFlags);
  }
  return fd;
}

}  // namespace

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
    ReportFileProblem(path, "a link where the system's own file belongs: not followed");
  } else if (fd < 0 && (errno != ENOENT || create)) {
    ReportFileError(path);
  }
  if (fd < 0) return -1;
  if (!MayTrust(path, fd)) {
    close(fd);
    ReportFileProblem(path,
                      "not the system's own (another user's, or others may write it): not used");
    errno = EPERM;
    return -1;
  }
  return fd;
}
