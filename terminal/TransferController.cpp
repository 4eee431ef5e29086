// SPDX-License-Identifier: Apache-2.0
#include <limits>

#include "Clock.h"
#include "Tariff.h"
#include "Terminal.h"
#include "WhatTerm.h"

namespace {

// Seconds since |then|; a corrupted time stamp far in the past saturates instead of wrapping.
std::int64_t SecondsSince(std::int64_t then) {
  std::int64_t seconds = 0;
  if (__builtin_sub_overflow(CurrentTime(), then, &seconds)) {
    return std::numeric_limits<std::int64_t>::max();
  }
  return seconds;
}

}  // namespace

void TransferController(HeldBooks& books, Card card) {
  const char this_kind = WhatTerm == kBusTermId ? 'B' : 'S';
  if (card.vehicle != this_kind && SecondsSince(card.tagTime) <= kTransferWindowSeconds) {
    TransGetOnInterface(books, card);
  } else {
    GeneralGetOnInterface(books, card);
  }
}
