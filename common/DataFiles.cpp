#include "DataFiles.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

// A replacement is written to |path| + this suffix, the X's made unique by mkostemp.
constexpr std::string_view kTempSuffix = ".XXXXXX";

// Writes all of |bytes|, retrying after interruptions and partial writes.
bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = write(fd, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = ENOSPC;
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

std::string DirectoryOf(const std::string& path) {
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? std::string(".") : path.substr(0, slash + 1);
}

// Makes a completed rename durable: the directory entry itself must reach the disk.
bool SyncDirectory(const std::string& dir) {
  const int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool ok = fsync(fd) == 0;
  close(fd);
  return ok;
}

// Closes |fd| and removes the temporary file, keeping the errno of the original failure.
void Abandon(int fd, const std::string& temp_path, const std::string& path) {
  const int saved = errno;
  ReportFileError(path);
  if (fd >= 0) close(fd);
  unlink(temp_path.c_str());
  errno = saved;
}

}  // namespace

std::string DataPath(std::string_view name) {
  const char* dir = std::getenv("FARE_DATA_DIR");
  if (dir == nullptr || *dir == '\0') return "../../" + std::string(name);
  std::string path(dir);
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

bool ReplaceFileDurably(const std::string& path, std::string_view bytes) {
  std::string temp_path = std::string(path).append(kTempSuffix);
  std::vector<char> name(temp_path.begin(), temp_path.end());
  name.push_back('\0');
  const int fd = mkostemp(name.data(), O_CLOEXEC);
  if (fd < 0) {
    ReportFileError(path);
    return false;
  }
  temp_path.assign(name.data());
  // mkostemp creates 0600; a card file is an ordinary shared data file.
  if (fchmod(fd, 0644) != 0 || !WriteAll(fd, bytes) || fsync(fd) != 0) {
    Abandon(fd, temp_path, path);
    return false;
  }
  if (close(fd) != 0) {
    Abandon(-1, temp_path, path);
    return false;
  }
  if (rename(temp_path.c_str(), path.c_str()) != 0) {
    Abandon(-1, temp_path, path);
    return false;
  }
  if (!SyncDirectory(DirectoryOf(path))) {
    ReportFileError(path);
    return false;
  }
  return true;
}

void RemoveAbandonedReplacements(const std::string& path) {
  const auto slash = path.rfind('/');
  const std::string dir = slash == std::string::npos ? "" : path.substr(0, slash + 1);
  const std::string prefix = path.substr(dir.size()) + ".";
  DIR* listing = opendir(dir.empty() ? "." : dir.c_str());
  if (listing == nullptr) return;
  while (const dirent* entry = readdir(listing)) {
    const std::string_view name = entry->d_name;
    if (name.size() == prefix.size() + kTempSuffix.size() - 1 && name.starts_with(prefix)) {
      unlink((dir + std::string(name)).c_str());
    }
  }
  closedir(listing);
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
      close(fd);
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

bool EmptyFile(const std::string& path) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) {
    ReportFileError(path);
    return false;
  }
  close(fd);
  return true;
}

int LockFile(const std::string& path) {
  const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
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
