// SPDX-License-Identifier: Apache-2.0
#include "BookFiles.h"
#include "DataFiles.h"
#include "Settle.h"

// The lock is held only while the logs are opened: a terminal that starts or tags meanwhile
// waits that long and no longer. Its later lines lie beyond the lengths noted here, and a log it
// empties is replaced by a new file, so the open logs keep what they held.
bool SnapshotLogs(LogSnapshots& logs) {
  HeldBooks books = LockBooks(kCardBooks);
  if (!Held(books)) return false;
  bool opened = true;
  for (std::size_t i = 0; i < logs.size() && opened; ++i) {
    opened = OpenLog(DataPath(LogFileName(kLogTermIds[i])), logs[i]);
  }
  UnlockBooks(books);
  if (!opened) CloseLogs(logs);
  return opened;
}
