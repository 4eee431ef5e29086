// SPDX-License-Identifier: Apache-2.0
#include <cinttypes>
#include <cstdio>

#include "BookFiles.h"
#include "Card.h"
#include "LocalDate.h"

std::string FormatCardLine(const Card& card) {
  const LocalDate date = ToLocalDate(card.tagTime);
  char line[256];
  const int n = std::snprintf(
      line, sizeof line, "%d %c %c %d %d %d %d %c %d %d %c %" PRId64 " %d%d%d%d%d", card.cardId,
      card.vehicle, card.inOut, card.fee.baseFee, card.fee.additionalFee, card.fee.missedOffFee,
      card.termId, card.transfer, card.balance, card.prevFare, card.prevVehicle, card.tagTime,
      date.year, date.month, date.day, date.hour, date.minute);
  return std::string(line, static_cast<std::size_t>(n));
}

bool CardWriter(HeldBooks& books, Card card, BookAppend log) {
  return CommitChange(books, FormatCardLine(card), {std::move(log)}).done;
}
