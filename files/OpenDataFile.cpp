// SPDX-License-Identifier: Apache-2.0
// The files a person names (the card, the logs, the reports) are reached through symbolic links
// as an ordinary open reaches them, but only through links the directory's rules let it follow.
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "DataFiles.h"
#include "DirectoryRules.h"
#include "FileSeam.h"

// More links than this in a row are a loop.
constexpr int kMostLinks = 40;

std::optional<std::string> RealPathOf(const std::string& path) {
  std::string at = path;
  for (int hop = 0; hop < kMostLinks; ++hop) {
    struct stat info {};
    if (lstat(at.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return at;
    if (!MayFollow(at, info)) {
      ReportFileProblem(at, "a link another user made in a shared directory: not followed");
      errno = EACCES;
      return std::nullopt;
    }
    char target[PATH_MAX];
    const ssize_t n = readlink(at.c_str(), target, sizeof target);
    if (n <= 0 || static_cast<std::size_t>(n) == sizeof target) return at;
    const std::string link(target, static_cast<std::size_t>(n));
    at = link.front() == '/' ? link : DirectoryOf(at).append(link);
  }
  errno = ELOOP;
  ReportFileError(path);
  return std::nullopt;
}

int OpenDataFile(const std::string& path, int flags) {
  const auto real = RealPathOf(path);
  if (!real) return -1;
  // The file the links lead to is opened as it was found: a link put there since is refused.
  flags |= O_NOFOLLOW | O_CLOEXEC;
  const int fd = (flags & O_CREAT) != 0 ? OpenCreating(*real, flags) : open(real->c_str(), flags);
  if (fd < 0 && (errno != ENOENT || (flags & O_CREAT) != 0)) ReportFileError(path);
  if (fd < 0 || (flags & O_ACCMODE) == O_RDONLY) return fd;
  if (!MayWriteInPlace(*real, fd)) {
    close(fd);
    ReportFileProblem(*real, "a file with another name in a shared directory: not written");
    errno = EACCES;
    return -1;
  }
  return fd;
}

std::optional<std::string> ReadFilePrefix(const std::string& path, std::size_t limit) {
  const int fd = OpenDataFile(path, O_RDONLY);
  if (fd < 0) return std::nullopt;
  auto text = ReadFrom(fd, limit);
  CloseFile(fd);
  return text;
}

bool SyncFileAt(const std::string& path) {
  const int fd = OpenDataFile(path, O_RDONLY);
  if (fd < 0) {
    if (errno == ENOENT) ReportFileError(path);
    return false;
  }
  bool ok = SeamSync(fd) == 0;
  if (close(fd) != 0) ok = false;
  if (!ok) ReportFileError(path);
  return ok;
}
