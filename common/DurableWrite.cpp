// The writes that the books depend on. Each is one durable step: its bytes are written, then
// synced, and the crash seam hears of it, so a test can stop the process between or inside them.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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

// Opens |path| for writing, creating it when missing; |created| tells whether it was new.
int OpenForWriting(const std::string& path, int flags, bool& created) {
  created = false;
  int fd = open(path.c_str(), O_WRONLY | O_CLOEXEC | flags);
  if (fd < 0 && errno == ENOENT) {
    // Also reached through a dangling symbolic link, whose target is created: counted as new.
    created = true;
    fd = open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | flags, 0666);
  }
  return fd;
}

}  // namespace

bool WriteFileInPlace(const std::string& path, std::string_view bytes) {
  bool created = false;
  const int fd = OpenForWriting(path, O_TRUNC, created);
  bool ok = fd >= 0 && WriteStep(fd, bytes, 0);
  if (fd >= 0 && close(fd) != 0) ok = false;
  if (ok && created) ok = SyncDirectory(path);
  if (!ok) ReportFileError(path);
  return ok;
}

bool WriteAtDurably(int fd, std::uint64_t offset, std::string_view bytes, const std::string& path) {
  const bool ok = ftruncate(fd, static_cast<off_t>(offset)) == 0 && WriteStep(fd, bytes, offset);
  if (!ok) ReportFileError(path);
  return ok;
}

bool EmptyFile(const std::string& path) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  bool ok = fd >= 0 && fsync(fd) == 0;
  if (fd >= 0 && close(fd) != 0) ok = false;
  if (ok) ok = SyncDirectory(path);
  if (!ok) ReportFileError(path);
  return ok;
}

int OpenDurably(const std::string& path) {
  int fd = open(path.c_str(), O_RDWR | O_CLOEXEC);
  if (fd < 0 && errno == ENOENT) {
    fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd >= 0 && !SyncDirectory(path)) {
      close(fd);
      fd = -1;
    }
  }
  if (fd < 0) ReportFileError(path);
  return fd;
}

std::optional<std::uint64_t> FileSize(int fd, const std::string& path) {
  struct stat info {};
  if (fstat(fd, &info) != 0) {
    ReportFileError(path);
    return std::nullopt;
  }
  return static_cast<std::uint64_t>(info.st_size);
}
