#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "DataFiles.h"
#include "Terminal.h"
#include "WhatTerm.h"

namespace {

// The system's own file, never replaced, so a lock on it always locks: a link is not followed,
// and a name that is not a file to lock (a FIFO, say) never makes the open wait.
int OpenStationLock(const std::string& path) {
  constexpr int kFlags = O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
  int fd = open(path.c_str(), O_RDWR | O_CREAT | kFlags, 0644);
  // A terminal in a directory it may not write to can still lock an existing lock file.
  if (fd < 0 && (errno == EACCES || errno == EROFS)) fd = open(path.c_str(), O_RDONLY | kFlags);
  return fd;
}

}  // namespace

StationLock LockStation() {
  const std::string path = DataPath(std::to_string(WhatTerm) + ".lock");
  StationLock station;
  const int fd = OpenStationLock(path);
  if (fd < 0) {
    ReportFileError(path);
    return station;
  }
  int rc = 0;
  do {
    rc = flock(fd, LOCK_EX | LOCK_NB);
  } while (rc != 0 && errno == EINTR);
  if (rc == 0) {
    station.fd = fd;
    return station;
  }
  station.running = errno == EWOULDBLOCK;
  if (!station.running) ReportFileError(path);
  close(fd);
  return station;
}
