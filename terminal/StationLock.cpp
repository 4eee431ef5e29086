// SPDX-License-Identifier: Apache-2.0
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "DataFiles.h"
#include "Terminal.h"
#include "WhatTerm.h"

StationLock LockStation() {
  const std::string path = DataPath(std::to_string(WhatTerm) + ".lock");
  StationLock station;
  // The system's own file, never replaced, so a lock on it always locks.
  bool writable = false;  // a lock needs no more than reading
  const int fd = OpenOwnFile(path, true, writable);
  if (fd < 0) return station;
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
