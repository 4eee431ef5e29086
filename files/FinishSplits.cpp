// SPDX-License-Identifier: Apache-2.0
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "DataFiles.h"
#include "FileSeam.h"

namespace {

// Writes the bytes of the run |fd| at |path| from |settled| to |size| to |unsettled| and puts
// them on the disk, then cuts them from the run.
bool MoveTail(int fd, const std::string& path, std::uint64_t settled, std::uint64_t size,
              const std::string& unsettled) {
  const auto tail = ReadFrom(fd, size - settled, settled);
  if (!tail) {
    ReportFileError(path);
    return false;
  }
  const auto beside = WriteBeside(path, *tail, true);
  if (!beside) return false;
  if (!MoveOver(*beside, unsettled)) {
    ReportFileError(unsettled);
    return false;
  }
  if (!SyncDirectoryOf(path)) return false;
  if (SeamTruncate(fd, static_cast<off_t>(settled)) != 0 || SeamSync(fd) != 0) {
    ReportFileError(path);
    return false;
  }
  return true;
}

// Finishes the split run |path| ("STEM.split-N"). Its tail, a run of its own whose stem sorts
// next, is written to StemAfter(STEM).unsettled while
// the run still holds it, and cut from the run only once that is on the disk: a crash at any
// step leaves the split to do again, never a line in neither part.
bool FinishSplit(const std::string& path) {
  const std::size_t mark = path.rfind(kSplitSuffix);
  const std::string stem = path.substr(0, mark);
  const std::uint64_t settled =
      std::strtoull(path.c_str() + mark + kSplitSuffix.size(), nullptr, 10);
  // As trusted as the log it was: a link or a second name another user planted is refused.
  const int fd = OpenDataFile(path, O_RDWR | O_NOCTTY | O_NONBLOCK);
  struct stat run {};
  if (fd < 0 || fstat(fd, &run) != 0 || !S_ISREG(run.st_mode)) {
    if (fd >= 0) ReportFileProblem(path, "not a regular file");
    CloseFile(fd);
    return false;
  }
  const auto size = static_cast<std::uint64_t>(run.st_size);
  const bool cut = size <= settled || MoveTail(fd, path, settled, size,
                                               StemAfter(stem) + std::string(kUnsettledSuffix));
  CloseFile(fd);
  return cut && RenameEntry(path, stem + std::string(kSettledSuffix)) && SyncDirectoryOf(path);
}

}  // namespace

bool FinishSplits(const std::string& dir, const std::string& log_name) {
  const auto names = EntriesStartingWith(dir, log_name + ".run-");
  if (!names) {
    ReportFileError(dir);
    return false;
  }
  for (const std::string& name : *names) {
    // Only the split itself: not a file written beside it that a crash left.
    const std::size_t suffix = name.rfind('.');
    if (name.compare(suffix, kSplitSuffix.size(), kSplitSuffix) == 0 && !FinishSplit(dir + name)) {
      return false;
    }
  }
  return true;
}
