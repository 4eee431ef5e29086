// SPDX-License-Identifier: Apache-2.0
#include "AppendReports.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "DataFiles.h"
#include "FileSeam.h"

namespace {

struct OpenReport {
  std::string path;
  int fd = -1;
  off_t length = 0;  // before this run's lines
};

// Opens |report| for appending, creating it when |create|, and takes its lock: a settlement
// that took back its lines while another appended would cut the other's lines off with its
// own. The report is never replaced, so its lock holds. False with the detail on standard
// error; a missing report without |create| is false and ENOENT, and nothing is said.
bool OpenAndLock(OpenReport& report, bool create) {
  report.fd = OpenDataFile(report.path, O_WRONLY | O_APPEND | (create ? O_CREAT : 0));
  if (report.fd < 0) return false;
  struct stat info {};
  if (LockOpenFile(report.fd, report.path) != 0) return false;
  if (fstat(report.fd, &info) != 0) {
    ReportFileError(report.path);
    return false;
  }
  report.length = info.st_size;
  return true;
}

// Opens every report, those that exist first, so that a report that cannot be made leaves no
// other made for nothing. The index of the first that failed, or the number of reports.
std::size_t OpenAll(std::vector<OpenReport>& open) {
  for (const bool create : {false, true}) {
    for (std::size_t i = 0; i < open.size(); ++i) {
      if (open[i].fd >= 0) continue;
      if (!OpenAndLock(open[i], create) && (create || errno != ENOENT)) return i;
    }
  }
  return open.size();
}

void TakeBack(const OpenReport& report) {
  if (SeamTruncate(report.fd, report.length) == 0 && SeamSync(report.fd) == 0) return;
  std::fprintf(stderr, "%s: %s: this run's lines could not be taken back: %s\n",
               program_invocation_short_name, report.path.c_str(), std::strerror(errno));
}

}  // namespace

bool AppendReports(std::span<const ReportLines> reports) {
  std::vector<OpenReport> open(reports.size());
  for (std::size_t i = 0; i < reports.size(); ++i) open[i].path = DataPath(reports[i].name);
  std::size_t failed = OpenAll(open);
  for (std::size_t i = 0; failed == open.size() && i < open.size(); ++i) {
    if (AppendDurably(open[i].fd, reports[i].lines, open[i].path)) continue;
    failed = i;
    for (std::size_t j = 0; j < i; ++j) TakeBack(open[j]);
  }
  for (const OpenReport& report : open) CloseFile(report.fd);
  if (failed == open.size()) return true;
  std::printf("Cannot write %s!\n", open[failed].path.c_str());
  return false;
}
