// SPDX-License-Identifier: Apache-2.0
#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "DataFiles.h"
#include "FileSeam.h"

namespace {

struct OpenFile {
  std::string path;
  int fd = -1;
  off_t length = 0;  // before the bytes appended
};

// Opens |file| for appending, creating it when |create|, and takes its lock: a writer that
// took back its lines while another appended would cut the other's lines off with its own. The
// file is never replaced, so its lock holds. False with the detail on standard error; a missing
// file without |create| is false and ENOENT, and nothing is said.
bool OpenAndLock(OpenFile& file, bool create) {
  file.fd = OpenDataFile(file.path, O_WRONLY | O_APPEND | (create ? O_CREAT : 0));
  if (file.fd < 0) return false;
  struct stat info {};
  if (LockOpenFile(file.fd, file.path) != 0) return false;
  if (fstat(file.fd, &info) != 0) {
    ReportFileError(file.path);
    return false;
  }
  file.length = info.st_size;
  return true;
}

// Opens every file, those that exist first, so that a file that cannot be made leaves no
// other made for nothing. The index of the first that failed, or the number of files.
std::size_t OpenAll(std::vector<OpenFile>& open) {
  for (const bool create : {false, true}) {
    for (std::size_t i = 0; i < open.size(); ++i) {
      if (open[i].fd >= 0) continue;
      if (!OpenAndLock(open[i], create) && (create || errno != ENOENT)) return i;
    }
  }
  return open.size();
}

void TakeBack(const OpenFile& file) {
  if (SeamTruncate(file.fd, file.length) == 0 && SeamSync(file.fd) == 0) return;
  std::fprintf(stderr, "%s: %s: this run's lines could not be taken back: %s\n",
               program_invocation_short_name, file.path.c_str(), std::strerror(errno));
}

}  // namespace

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

std::size_t AppendTogether(std::span<const Append> appends) {
  std::vector<OpenFile> open(appends.size());
  for (std::size_t i = 0; i < appends.size(); ++i) open[i].path = appends[i].path;
  std::size_t failed = OpenAll(open);
  for (std::size_t i = 0; failed == open.size() && i < open.size(); ++i) {
    if (AppendDurably(open[i].fd, appends[i].bytes, open[i].path)) continue;
    failed = i;
    for (std::size_t j = 0; j < i; ++j) TakeBack(open[j]);
  }
  for (const OpenFile& file : open) CloseFile(file.fd);
  return failed;
}
