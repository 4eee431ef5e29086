// SPDX-License-Identifier: Apache-2.0
#include <cerrno>
#include <string>

#include "DataFiles.h"
#include "Terminal.h"
#include "WhatTerm.h"

StationLock LockStation() {
  StationLock station;
  station.fd = LockFile(DataPath(std::to_string(WhatTerm) + ".lock"), false);
  station.running = station.fd < 0 && errno == EWOULDBLOCK;
  return station;
}
