// SPDX-License-Identifier: Apache-2.0
#include <stdio.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>

#include "DataFiles.h"
#include "FileSeam.h"

namespace {

// The stem the run of |log_name| in |dir| that a start at |start| ends is kept under: one that
// sorts after every stem there, so that a clock set back cannot put a run before its elders.
std::optional<std::string> NextStem(const std::string& dir, const std::string& log_name,
                                    std::int64_t start) {
  const std::string prefix = log_name + ".run-";
  const auto names = EntriesStartingWith(dir, prefix);
  if (!names) return std::nullopt;
  std::string latest;
  for (const std::string& name : *names) {
    latest = std::max(latest, name.substr(0, name.find('.', prefix.size())));
  }
  const std::string stem = KeptRunName(log_name, start);
  return stem > latest ? stem : StemAfter(latest);
}

}  // namespace

bool KeepRun(const std::string& path, std::int64_t start, std::uint64_t settled) {
  const auto found = RealPathOf(path);
  if (!found) return false;
  const std::string& real = *found;
  struct stat log {};
  if (stat(real.c_str(), &log) != 0 || !S_ISREG(log.st_mode) || log.st_size == 0) {
    return ReplaceFile(path, "", true);
  }
  // The kept run lies beside the file the log names, not beside a link to it: a rename cannot
  // take the old file's blocks to another file system, and a copy could fail halfway.
  const std::string dir = DirectoryOf(real);
  const std::string log_name = path.substr(path.rfind('/') + 1);  // npos + 1: all of it
  if (!FinishSplits(dir, log_name)) return false;
  const auto stem = NextStem(dir, log_name, start);
  if (!stem) {
    ReportFileError(dir);
    return false;
  }
  const auto size = static_cast<std::uint64_t>(log.st_size);
  const bool split = settled > 0 && settled < size;
  const std::string kept = dir + *stem +
                           (split ? std::string(kSplitSuffix) + std::to_string(settled)
                                  : std::string(settled == 0 ? kUnsettledSuffix : kSettledSuffix));
  const auto beside = WriteBeside(real, "", true);
  if (!beside) return false;
  if (!RenameEntry(*beside, kept)) {
    const int saved = errno;
    (void)SeamRemove(beside->c_str());
    errno = saved;
    return false;
  }
  // One swap: at no moment is there no log, and the old lines are in one of the two names. A
  // failed one leaves an empty kept run: were it made after all, removing that would lose them.
  if (SeamRename(kept.c_str(), real.c_str(), RENAME_EXCHANGE) != 0) {
    ReportFileError(path);
    return false;
  }
  return SyncDirectoryOf(real) && (!split || FinishSplits(dir, log_name));
}
