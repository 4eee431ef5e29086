// SPDX-License-Identifier: Apache-2.0
// Replacing a file whole: a new file written beside it under a name of the system's own, then
// renamed over it, so that a reader sees the old content or the new one and never a mix.
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "DataFiles.h"
#include "DirectoryRules.h"
#include "FileSeam.h"

namespace {

// The name of the file written beside a file it is to replace: nobody picks such a name, and
// it is the only file the programs ever remove.
constexpr std::string_view kBesideSuffix = ".farecard-new";

// Gives the new file |fd| the owner (root may set it), group and mode of the file it replaces:
// a group's file stays the group's. An owner or group it cannot give is no reason to refuse.
bool KeepModeOf(int fd, const struct stat& old) {
  struct stat now {};
  if (fstat(fd, &now) != 0) return false;
  if (now.st_uid != old.st_uid || now.st_gid != old.st_gid) {
    (void)SeamChangeOwner(fd, geteuid() == 0 ? old.st_uid : static_cast<uid_t>(-1), old.st_gid);
  }
  return (now.st_mode & 07777) == (old.st_mode & 07777) ||
         SeamChangeMode(fd, old.st_mode & 07777) == 0;
}

// Creates the file beside, exclusively, after removing one left by a process that died.
int CreateBeside(const std::string& beside) {
  constexpr int kFlags = O_WRONLY | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
  int fd = OpenCreating(beside, kFlags);
  if (fd < 0 && errno == EEXIST && MayRemove(beside) && SeamRemove(beside.c_str()) == 0) {
    fd = OpenCreating(beside, kFlags);
  }
  return fd;
}

}  // namespace

bool MoveOver(const std::string& beside, const std::string& real) {
  // Swapped, then the old one removed, rather than renamed over: a rename over a file makes the
  // file system write the new one's blocks out at once, which costs more than the caller's own
  // flush and buys it nothing. Without a swap (no file, or a file system without), a rename.
  if (SeamRename(beside.c_str(), real.c_str(), RENAME_EXCHANGE) == 0) {
    (void)SeamRemove(beside.c_str());  // a leftover is removed before the next one is written
    return true;
  }
  return SeamRename(beside.c_str(), real.c_str(), 0) == 0;
}

std::optional<std::string> WriteBeside(const std::string& real, std::string_view bytes,
                                       bool durable) {
  const std::string beside = real + std::string(kBesideSuffix);
  struct stat old {};
  const bool replacing = stat(real.c_str(), &old) == 0;
  // Only a file can be replaced by one: content for a directory could never be put in place.
  if (replacing && !S_ISREG(old.st_mode)) {
    errno = EISDIR;
    ReportFileError(real);
    return std::nullopt;
  }
  const int fd = CreateBeside(beside);
  // A file kept at its mode in a group's directory still becomes the group's.
  bool ok = fd >= 0 && (!replacing || KeepModeOf(fd, old));
  if (ok && replacing) ShareWithGroup(fd, beside);
  ok = ok && WriteAllAt(fd, bytes, 0) && (!durable || SeamSync(fd) == 0);
  if (fd >= 0 && close(fd) != 0) ok = false;
  if (ok) return beside;
  const int saved = errno;
  if (fd >= 0) (void)SeamRemove(beside.c_str());
  errno = saved;
  ReportFileError(beside);
  return std::nullopt;
}

bool ReplaceFile(const std::string& path, std::string_view bytes, bool durable) {
  const auto real = RealPathOf(path);
  if (!real) return false;
  const auto beside = WriteBeside(*real, bytes, durable);
  if (!beside) return false;
  if (!MoveOver(*beside, *real)) {
    const int saved = errno;
    (void)SeamRemove(beside->c_str());
    errno = saved;
    ReportFileError(path);
    return false;
  }
  return !durable || SyncDirectoryOf(*real);
}
