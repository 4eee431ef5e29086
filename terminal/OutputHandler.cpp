// SPDX-License-Identifier: Apache-2.0
#include <cerrno>

#include "Clock.h"
#include "DataFiles.h"
#include "LogFile.h"
#include "Tariff.h"
#include "Terminal.h"
#include "WhatTerm.h"

namespace {

// The card as the accepted tag leaves it.
Card ChargedCard(Card card, Fee fee) {
  const std::int32_t charge = fee.baseFee + fee.missedOffFee + fee.additionalFee;
  card.tagTime = CurrentTime();
  card.vehicle = WhatTerm == kBusTermId ? 'B' : 'S';
  card.inOut = fee.direction;
  card.fee = fee;
  card.termId = WhatTerm;
  card.balance -= charge;
  if (fee.direction == 'O') {
    if (card.transfer == 'F') {
      card.prevFare = fee.additionalFee + kBaseFare;
    } else {
      card.prevVehicle = card.vehicle;
    }
  }
  return card;
}

bool WriteCard(HeldBooks& books, const Card& card, BookAppend log) {
  if (card.inOut == 'O') return InputDistributor1(books, card, kWriteMode, std::move(log));
  if (card.inOut == 'I') return InputDistributor2(books, card, kWriteMode, std::move(log));
  return false;
}

}  // namespace

bool OutputHandler(HeldBooks& books, Card card, Fee fee) {
  const Card charged = ChargedCard(card, fee);
  // The log line carries the tag's first reading of the clock; a get-on's card, the second.
  BookAppend log = DBWriter(charged);
  if (log.name.empty()) {
    errno = EINVAL;
    ReportFileError("terminal " + std::to_string(WhatTerm) + " log");
    return false;
  }
  return WriteCard(books, charged, std::move(log));
}
