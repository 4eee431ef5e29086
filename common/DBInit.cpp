// SPDX-License-Identifier: Apache-2.0
#include "BookFiles.h"
#include "Clock.h"
#include "DataFiles.h"
#include "LogFile.h"
#include "WhatTerm.h"

bool DBInit(HeldBooks& books) {
  const std::string name = LogFileName(WhatTerm);
  if (name.empty()) return true;
  // The journal may still hold lines for this log, which a replay would put back: it is
  // checkpointed first. Then a new empty file takes the log's place and the old one is kept
  // under a name of its own, not cut to nothing: its lines are money not yet settled, and a
  // settlement that opened the log before keeps reading the lines it found there. The name says
  // which of them the last settlement covered, so that they are settled once.
  const std::string path = DataPath(name);
  return CheckpointBooks(books) && KeepRun(path, CurrentTime(), SettledBytes(path));
}
