// The writes that the books depend on. Each is one durable step: its bytes are written, then
// synced, and the crash seam hears of it, so a test can stop the process between or inside them.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "DataFiles.h"
#include "DurableSteps.h"

namespace {

// Writes all of |bytes| at |offset|, retrying after interruptions and partial writes.
bool WriteAllAt(int fd, std::string_view bytes, std::uint64_t offset) {
  while (!bytes.empty()) {
    const ssize_t n = pwrite(fd, bytes.data(), bytes.size(), static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = ENOSPC;
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(n));
    offset += static_cast<std::uint64_t>(n);
  }
  return true;
}

// Writes as much of |bytes| as the crash seam lets through, then syncs.
bool WriteStep(int fd, std::string_view bytes, std::uint64_t offset) {
  const std::size_t allowed = DurableStepBytes(bytes.size());
  if (!WriteAllAt(fd, bytes.substr(0, allowed), offset) || fsync(fd) != 0) return false;
  DurableStepDone();
  return true;
}

std::string DirectoryOf(const std::string& path) {
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? std::string(".") : path.substr(0, slash + 1);
}

// Makes a new directory entry durable.
bool SyncDirectory(const std::string& path) {
  const int fd = open(DirectoryOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool ok = fsync(fd) == 0;
  close(fd);
  return ok;
}

// Opens |path| with |flags| (an access mode, O_TRUNC perhaps), creating it with 0666 less the
// umask when missing, as an ordinary write would; a file it creates (also the target of a
// dangling symbolic link) is made durable in its directory. -1 on failure, errno set.
int OpenDurably(const std::string& path, int flags) {
  int fd = open(path.c_str(), flags | O_CLOEXEC);
  if (fd < 0 && errno == ENOENT) {
    fd = open(path.c_str(), flags | O_CREAT | O_CLOEXEC, 0666);
    if (fd >= 0 && !SyncDirectory(path)) {
      const int saved = errno;
      close(fd);
      errno = saved;
      fd = -1;
    }
  }
  return fd;
}

// Closes |fd| after |ok| work on it; reports |path| when anything failed.
bool CloseAfter(int fd, bool ok, const std::string& path) {
  if (fd >= 0 && close(fd) != 0) ok = false;
  if (!ok) ReportFileError(path);
  return ok;
}

}  // namespace

bool WriteFileInPlace(const std::string& path, std::string_view bytes) {
  const int fd = OpenDurably(path, O_WRONLY | O_TRUNC);
  return CloseAfter(fd, fd >= 0 && WriteStep(fd, bytes, 0), path);
}

bool WriteFileAt(const std::string& path, std::uint64_t offset, std::string_view bytes) {
  const int fd = OpenDurably(path, O_RDWR);
  struct stat info {};
  bool ok = fd >= 0 && fstat(fd, &info) == 0;
  if (ok) {
    offset = std::min(offset, static_cast<std::uint64_t>(info.st_size));
    ok = ftruncate(fd, static_cast<off_t>(offset)) == 0 && WriteStep(fd, bytes, offset);
  }
  return CloseAfter(fd, ok, path);
}

bool EmptyFile(const std::string& path) {
  const int fd = OpenDurably(path, O_WRONLY | O_TRUNC);
  return CloseAfter(fd, fd >= 0 && fsync(fd) == 0, path);
}

std::optional<std::uint64_t> FileSizeOf(const std::string& path) {
  const int fd = OpenDurably(path, O_RDWR);
  struct stat info {};
  const bool ok = fd >= 0 && fstat(fd, &info) == 0;
  if (!CloseAfter(fd, ok, path)) return std::nullopt;
  return static_cast<std::uint64_t>(info.st_size);
}
