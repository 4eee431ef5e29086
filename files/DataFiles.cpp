// SPDX-License-Identifier: Apache-2.0
#include "DataFiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "FileSeam.h"

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
  // Standard output is not flushed here: the terminal holds its console back while a tag holds
  // the card lock. The message line that follows the detail still comes after it, since
  // standard error goes out at once, or in the terminal is flushed first.
  std::fprintf(stderr, "%s: %s: %s\n", program_invocation_short_name, path.c_str(),
               std::strerror(saved));
  errno = saved;
}

std::optional<std::string> ReadFrom(int fd, std::size_t limit, std::uint64_t offset) {
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

std::optional<std::string> ReadFilePrefix(const std::string& path, std::size_t limit) {
  const int fd = OpenDataFile(path, O_RDONLY);
  if (fd < 0) return std::nullopt;
  auto text = ReadFrom(fd, limit);
  const int saved = errno;
  close(fd);
  errno = saved;
  return text;
}

int OpenForAppend(const std::string& path) {
  return OpenDataFile(path, O_WRONLY | O_APPEND | O_CREAT);
}

bool AppendDurably(int fd, std::string_view bytes, const std::string& path) {
  struct stat before {};
  if (fstat(fd, &before) != 0) {
    ReportFileError(path);
    return false;
  }
  const auto length = static_cast<std::uint64_t>(before.st_size);
  if (!WriteAllAt(fd, bytes, length) || SeamSync(fd) != 0) {
    const int saved = errno;
    // A part written would be misread later, and a line whose flush failed may or may not be
    // on the disk: either way the caller reports the write as failed, so nothing may stay.
    (void)SeamTruncate(fd, before.st_size);
    errno = saved;
    ReportFileError(path);
    return false;
  }
  return true;
}

void CloseFile(int fd) {
  if (fd >= 0) close(fd);
}
