// SPDX-License-Identifier: Apache-2.0
// The small helpers every other file here builds on; they call nothing in files/ but the seam.
#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "DataFiles.h"
#include "FileSeam.h"

// Without FARE_DATA_DIR a build in the checkout keeps the designed ../../; an installed program
// is built with a fixed directory, since ../../ of wherever a user starts it may be the root.
#ifndef FARE_DEFAULT_DATA_DIR
#define FARE_DEFAULT_DATA_DIR "../../"
#endif

DataDirectory ChosenDataDirectory() {
  const char* dir = std::getenv("FARE_DATA_DIR");
  if (dir == nullptr || *dir == '\0') return {FARE_DEFAULT_DATA_DIR, false};
  return {dir, true};
}

std::string DataPath(std::string_view name) {
  std::string path = ChosenDataDirectory().name;
  if (path.back() != '/') path += '/';
  return path.append(name);
}

bool DataDirectoryExists() {
  const std::string dir = DataPath("");
  struct stat info {};
  if (stat(dir.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) return true;
  if (errno == 0) errno = ENOTDIR;
  ReportFileProblem(dir, std::string("the data directory: ") + std::strerror(errno));
  return false;
}

void ReportFileProblem(const std::string& path, const std::string& what) {
  const int saved = errno;
  // Standard output is not flushed: the terminal holds its console back under the card lock. The
  // message line after the detail still follows it, as standard error goes out first.
  std::fprintf(stderr, "%s: %s: %s\n", program_invocation_short_name, path.c_str(), what.c_str());
  errno = saved;
}

void ReportFileError(const std::string& path) { ReportFileProblem(path, std::strerror(errno)); }

std::optional<std::string> ReadFrom(int fd, std::size_t limit, std::uint64_t offset) {
  // No more room than a regular file holds: a generous limit costs nothing.
  struct stat file {};
  if (fstat(fd, &file) == 0 && S_ISREG(file.st_mode)) {
    const auto size = static_cast<std::uint64_t>(file.st_size);
    limit =
        static_cast<std::size_t>(std::min<std::uint64_t>(limit, size > offset ? size - offset : 0));
  }
  std::string text(limit, '\0');
  std::size_t used = 0;
  while (used < limit) {
    const ssize_t n =
        pread(fd, text.data() + used, limit - used, static_cast<off_t>(offset + used));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return std::nullopt;
    if (n == 0) break;
    used += static_cast<std::size_t>(n);
  }
  text.resize(used);
  return text;
}

bool WriteAllAt(int fd, std::string_view bytes, std::uint64_t offset) {
  while (!bytes.empty()) {
    const ssize_t n = SeamWrite(fd, bytes.data(), bytes.size(), static_cast<off_t>(offset));
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

std::string DirectoryOf(const std::string& path) {
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? std::string("./") : path.substr(0, slash + 1);
}

bool SyncDirectoryOf(const std::string& path) {
  const std::string dir = DirectoryOf(path);
  const int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  bool ok = fd >= 0 && SeamSyncDirectory(fd) == 0;
  if (fd >= 0 && close(fd) != 0) ok = false;
  if (!ok) ReportFileError(dir);
  return ok;
}

std::optional<std::string> RenameToFreeName(const std::string& from, int count,
                                            const std::function<std::string(int)>& name_for) {
  for (int n = 1; n <= count; ++n) {
    std::string to = name_for(n);
    // Never over an entry: a name taken, even by a link another user planted, is passed over.
    if (SeamRename(from.c_str(), to.c_str(), RENAME_NOREPLACE) == 0) return to;
    if (errno != EEXIST) break;
  }
  return std::nullopt;
}

bool RenameEntry(const std::string& from, const std::string& to) {
  if (SeamRename(from.c_str(), to.c_str(), RENAME_NOREPLACE) == 0) return true;
  ReportFileError(to);
  return false;
}

std::optional<std::vector<std::string>> EntriesStartingWith(const std::string& dir,
                                                            std::string_view prefix) {
  DIR* listing = opendir(dir.c_str());
  if (listing == nullptr) return std::nullopt;
  std::vector<std::string> names;
  errno = 0;
  // One process reads this listing, on one thread.
  while (const dirent* entry = readdir(listing)) {  // NOLINT(concurrency-mt-unsafe)
    if (std::string_view(entry->d_name).starts_with(prefix)) names.emplace_back(entry->d_name);
  }
  const int failed = errno;
  closedir(listing);
  errno = failed;
  if (failed != 0) return std::nullopt;
  std::sort(names.begin(), names.end());
  return names;
}

void CloseFile(int fd) {
  const int saved = errno;
  if (fd >= 0) close(fd);
  errno = saved;
}
