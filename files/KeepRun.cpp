// SPDX-License-Identifier: Apache-2.0
#include <stdio.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <ctime>

#include "DataFiles.h"
#include "FileSeam.h"

constexpr int kMostRunsASecond = 99;  // as KeptRunName numbers them

std::string KeptRunName(const std::string& log_name, std::int64_t start, int sequence) {
  const auto time = static_cast<std::time_t>(start);
  std::tm utc{};
  char stamp[64];
  if (gmtime_r(&time, &utc) == nullptr) {
    std::snprintf(stamp, sizeof stamp, "%lld", static_cast<long long>(start));
  } else {
    std::snprintf(stamp, sizeof stamp, "%04d%02d%02dT%02d%02d%02dZ", utc.tm_year + 1900,
                  utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec);
  }
  std::string name = log_name + ".run-" + stamp;
  if (sequence > 1) {
    std::snprintf(stamp, sizeof stamp, "-%02d", sequence);
    name += stamp;
  }
  return name;
}

bool KeepRun(const std::string& path, std::int64_t start) {
  const auto found = RealPathOf(path);
  if (!found) return false;
  const std::string& real = *found;
  struct stat log {};
  if (stat(real.c_str(), &log) != 0 || !S_ISREG(log.st_mode) || log.st_size == 0) {
    return ReplaceFile(path, "", true);
  }
  // The kept run lies beside the file the log names, not beside a link to it: a rename cannot
  // take the old file's blocks to another file system, and a copy could fail halfway.
  const auto beside = WriteBeside(real, "", true);
  if (!beside) return false;
  const std::string log_name = path.substr(path.rfind('/') + 1);  // npos + 1: all of it
  std::string kept;                                               // the last name tried
  if (!RenameToFreeName(*beside, kMostRunsASecond, [&](int sequence) {
        return kept = DirectoryOf(real) + KeptRunName(log_name, start, sequence);
      })) {
    const int saved = errno;
    (void)SeamRemove(beside->c_str());
    errno = saved;
    ReportFileError(kept);
    return false;
  }
  // One swap: at no moment is there no log, and the old lines are in one of the two names. A
  // failed one leaves an empty kept run: were it made after all, removing that would lose them.
  if (SeamRename(kept.c_str(), real.c_str(), RENAME_EXCHANGE) != 0) {
    ReportFileError(path);
    return false;
  }
  return SyncDirectoryOf(real);
}
