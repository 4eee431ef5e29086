#include "DataFiles.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

std::string DataPath(std::string_view name) {
  // Without FARE_DATA_DIR a build in the checkout keeps the designed ../../; an installed
  // program is built with a fixed directory, since ../../ of wherever a user starts it may be
  // the root directory.
#ifdef FARE_DEFAULT_DATA_DIR
  constexpr const char* kDefaultDir = FARE_DEFAULT_DATA_DIR;
#else
  constexpr const char* kDefaultDir = "../../";
#endif
  const char* dir = std::getenv("FARE_DATA_DIR");
  std::string path(dir == nullptr || *dir == '\0' ? kDefaultDir : dir);
  if (path.back() != '/') path += '/';
  return path.append(name);
}

void ReportFileError(const std::string& path) {
  const int saved = errno;
  std::fflush(stdout);
  std::fprintf(stderr, "%s: %s: %s\n", program_invocation_short_name, path.c_str(),
               std::strerror(saved));
  errno = saved;
}

std::optional<std::string> ReadFilePrefix(const std::string& path, std::size_t limit) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  std::string text(limit, '\0');
  std::size_t used = 0;
  while (used < limit) {
    const ssize_t n = read(fd, text.data() + used, limit - used);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      const int saved = errno;
      close(fd);
      errno = saved;
      return std::nullopt;
    }
    if (n == 0) break;
    used += static_cast<std::size_t>(n);
  }
  close(fd);
  text.resize(used);
  return text;
}

int OpenForAppend(const std::string& path) {
  const int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) ReportFileError(path);
  return fd;
}

bool AppendDurably(int fd, std::string_view bytes, const std::string& path) {
  struct stat before {};
  if (fstat(fd, &before) != 0) {
    ReportFileError(path);
    return false;
  }
  ssize_t n = 0;
  do {
    n = write(fd, bytes.data(), bytes.size());
  } while (n < 0 && errno == EINTR);
  if (n != static_cast<ssize_t>(bytes.size())) {
    if (n >= 0) errno = ENOSPC;
    const int saved = errno;
    // A line cut short by a full disk would be misread later; take the fragment back.
    if (n > 0 && ftruncate(fd, before.st_size) != 0) {
      // Nothing more can be done; the detail line below still names the file.
    }
    errno = saved;
    ReportFileError(path);
    return false;
  }
  if (fsync(fd) != 0) {
    const int saved = errno;
    // Whether the line reached the disk is unknown; the caller reports the tag as failed, so
    // the line must not stay behind to be counted.
    if (ftruncate(fd, before.st_size) != 0) {
      // Nothing more can be done; the detail line below still names the file.
    }
    errno = saved;
    ReportFileError(path);
    return false;
  }
  return true;
}

int LockFile(const std::string& path) {
  int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  // A reader in a directory it may not write to can still lock an existing lock file.
  if (fd < 0 && (errno == EACCES || errno == EROFS)) fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    ReportFileError(path);
    return -1;
  }
  int rc = 0;
  do {
    rc = flock(fd, LOCK_EX);
  } while (rc != 0 && errno == EINTR);
  if (rc != 0) {
    ReportFileError(path);
    close(fd);
    return -1;
  }
  return fd;
}

void UnlockFile(int fd) { CloseFile(fd); }

void CloseFile(int fd) {
  if (fd >= 0) close(fd);
}
