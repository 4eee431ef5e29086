// SPDX-License-Identifier: Apache-2.0
#include <cinttypes>
#include <cstdio>

#include "LocalDate.h"
#include "LogFile.h"
#include "WhatTerm.h"

std::string FormatLogLine(const LogEntry& entry) {
  const LocalDate date = ToLocalDate(entry.tagTime);
  char line[256];
  const int n =
      std::snprintf(line, sizeof line, "%d %d %d %d %d %c %d %c %c %" PRId64 " %d%d%d%d%d\n",
                    entry.termId, entry.baseFee, entry.missedOffFee, entry.additionalFee,
                    entry.cardId, entry.transfer, entry.prevFare, entry.prevVehicle, entry.inOut,
                    entry.tagTime, date.year, date.month, date.day, date.hour, date.minute);
  return std::string(line, static_cast<std::size_t>(n));
}

LogEntry ToLogEntry(const Card& card, std::int32_t term_id) {
  LogEntry entry;
  entry.termId = term_id;
  entry.baseFee = card.fee.baseFee;
  entry.missedOffFee = card.fee.missedOffFee;
  entry.additionalFee = card.fee.additionalFee;
  entry.cardId = card.cardId;
  entry.transfer = card.transfer;
  entry.prevFare = card.prevFare;
  entry.prevVehicle = card.prevVehicle;
  entry.inOut = card.inOut;
  entry.tagTime = card.tagTime;
  return entry;
}

BookAppend DBWriter(Card card) {
  return {LogFileName(WhatTerm), FormatLogLine(ToLogEntry(card, WhatTerm))};
}
