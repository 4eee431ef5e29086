// SPDX-License-Identifier: Apache-2.0
#include "Card.h"
#include "DataFiles.h"
#include "LogFile.h"
#include "WhatTerm.h"

bool DBInit() {
  const std::string name = LogFileName(WhatTerm);
  if (name.empty()) return true;
  // The journal may still hold lines for this log, which a replay would put back: it is
  // checkpointed first. Then a new empty file is renamed over the log, not the log cut to
  // nothing, so a settlement that opened the log before keeps reading the lines it found there.
  return CheckpointBooks(kCardBooks) && ReplaceFile(DataPath(name), "", true);
}
