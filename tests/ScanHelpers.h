// SPDX-License-Identifier: Apache-2.0
// What the settlement tests read logs and entries with, beside the program's own reader.
#pragma once

#include <string>

#include "DataFiles.h"
#include "FareEntries.h"
#include "LogEntry.h"
#include "WhatTerm.h"

// The part of |entry| the allocation reads, as the scanner keeps it.
inline FareEntry ToFareEntry(const LogEntry& entry) {
  return {entry.additionalFee, entry.prevFare, SurchargeOf(entry.missedOffFee),
          entry.transfer,      entry.inOut,    entry.termId == kBusTermId};
}

// ReadLog on the log at |path|, which it opens and closes; kUnreadable when it cannot be opened.
inline LoadOutcome LoadLog(const std::string& path, EntryBlock& block,
                           std::size_t chunk_bytes = kReadChunkBytes) {
  LogSnapshot log;
  if (!OpenLog(path, log)) return LoadOutcome::kUnreadable;
  const LoadOutcome outcome = ReadLog(log, block, chunk_bytes);
  CloseFile(log.fd);
  return outcome;
}
