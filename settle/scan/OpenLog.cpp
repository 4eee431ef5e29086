// SPDX-License-Identifier: Apache-2.0
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "DataFiles.h"
#include "FareEntries.h"

bool OpenLog(const std::string& path, LogSnapshot& log) {
  log.path = path;
  // A log is a file a person names: a link is followed as the data files follow one.
  log.fd = OpenDataFile(path, O_RDONLY | O_NONBLOCK | O_NOCTTY);
  struct stat info {};
  if (log.fd < 0 || fstat(log.fd, &info) != 0) {
    if (log.fd >= 0 || errno == ENOENT) ReportFileError(path);
    CloseFile(log.fd);
    log.fd = -1;
    return false;
  }
  if (!S_ISREG(info.st_mode)) {
    // Reading a FIFO could wait for ever and a device could run on for ever.
    std::fprintf(stderr, "%s: %s: not a regular file\n", program_invocation_short_name,
                 path.c_str());
    CloseFile(log.fd);
    log.fd = -1;
    return false;
  }
  log.length = static_cast<std::uint64_t>(info.st_size);
  return true;
}

void CloseLogs(LogSnapshots& logs) {
  for (LogSnapshot& log : logs) {
    CloseFile(log.fd);
    log.fd = -1;
  }
}
