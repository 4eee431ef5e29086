// SPDX-License-Identifier: Apache-2.0
// The files a person names (the card, the logs, the reports) are reached as an ordinary open
// reaches them, through symbolic links, but with the rule a careful kernel applies to
// directories that everyone may write to: there a link is followed only when it belongs to the
// user running the program or to the directory's owner, since anyone could have planted it.
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "DataFiles.h"
#include "FileSeam.h"

namespace {

// More links than this in a row are a loop.
constexpr int kMostLinks = 40;

bool IsSharedDirectory(const struct stat& dir) {
  return (dir.st_mode & S_ISVTX) != 0 && (dir.st_mode & S_IWOTH) != 0;
}

// Whether the link |link|, found at |path|, may be followed.
bool MayFollow(const std::string& path, const struct stat& link) {
  struct stat dir {};
  if (stat(DirectoryOf(path).c_str(), &dir) != 0) return false;
  return !IsSharedDirectory(dir) || link.st_uid == geteuid() || link.st_uid == dir.st_uid;
}

void ReportRefused(const std::string& path, const char* why) {
  std::fprintf(stderr, "%s: %s: %s\n", program_invocation_short_name, path.c_str(), why);
  errno = EACCES;
}

}  // namespace

std::optional<std::string> RealPathOf(const std::string& path) {
  std::string at = path;
  for (int hop = 0; hop < kMostLinks; ++hop) {
    struct stat info {};
    if (lstat(at.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return at;
    if (!MayFollow(at, info)) {
      ReportRefused(at, "a link another user made in a shared directory: not followed");
      return std::nullopt;
    }
    char target[PATH_MAX];
    const ssize_t n = readlink(at.c_str(), target, sizeof target);
    if (n <= 0 || static_cast<std::size_t>(n) == sizeof target) return at;
    const std::string link(target, static_cast<std::size_t>(n));
    if (link.front() == '/') {
      at = link;
    } else {
      at = DirectoryOf(at);
      at += link;
    }
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
  // Written in place, a file with a second name in a shared directory may be anybody's.
  struct stat file {};
  struct stat dir {};
  if (fstat(fd, &file) == 0 && file.st_nlink > 1 && stat(DirectoryOf(*real).c_str(), &dir) == 0 &&
      IsSharedDirectory(dir)) {
    close(fd);
    ReportRefused(*real, "a file with another name in a shared directory: not written");
    return -1;
  }
  return fd;
}
