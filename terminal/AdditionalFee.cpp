// SPDX-License-Identifier: Apache-2.0
#include <algorithm>
#include <limits>

#include "Clock.h"
#include "Tariff.h"
#include "Terminal.h"
#include "WhatTerm.h"

namespace {

// Stations counted forward from |from| to this terminal, continuing from station 5 to
// station 1; 0 when the ride ends where it began. Wide arithmetic, since a hand-edited card may
// hold any terminal ID.
std::int64_t StationCount(std::int32_t from) {
  std::int64_t count = (static_cast<std::int64_t>(WhatTerm) - from) / kTermIdStep;
  if (count < 0) count += kSubwayStations;
  return count;
}

// Fee by station count: nothing for a ride that ends where it began, |one| for the next
// station forward, |farther| for every other count (a count of 0 reached by wrapping included).
std::int32_t SubwayFee(std::int32_t from, std::int32_t one, std::int32_t farther) {
  if ((static_cast<std::int64_t>(WhatTerm) - from) / kTermIdStep == 0) return 0;
  return StationCount(from) == 1 ? one : farther;
}

// Fee by ride time, in whole periods up to the most charged. Ride times that overflow or
// reach 2^31 seconds and beyond come only from a corrupted time stamp; they charge the top fee.
std::int32_t RideTimeFee(std::int64_t began) {
  std::int64_t ride = 0;
  if (__builtin_sub_overflow(CurrentTime(), began, &ride)) {
    ride = std::numeric_limits<std::int64_t>::max();
  }
  if (ride < kRidePeriodSeconds) return 0;
  const std::int64_t periods = std::min(ride / kRidePeriodSeconds, kMostPeriods);
  return static_cast<std::int32_t>(periods) * kFeePerPeriod;
}

}  // namespace

void AdditionalFee(HeldBooks& books, Card card, std::int32_t code, Fee fee) {
  const bool at_bus = WhatTerm == kBusTermId;
  if (code == TAG_TRANSFER_ON) {
    card.transfer = 'T';
    fee.direction = 'I';
  } else if (code == TAG_GENERAL_ON) {
    card.transfer = 'F';
    fee.direction = 'I';
  } else if (code == TAG_OFF && card.transfer == 'T') {
    fee.direction = 'O';
    fee.additionalFee = at_bus
                            ? RideTimeFee(card.tagTime)
                            : SubwayFee(card.termId, kTransferOneStationFee, kTransferFartherFee);
  } else if (code == TAG_OFF && card.transfer == 'F') {
    fee.direction = 'O';
    fee.additionalFee =
        at_bus ? 0 : SubwayFee(card.termId, kOrdinaryOneStationFee, kOrdinaryFartherFee);
  } else {
    // A get-off on a card whose transfer flag the system never writes: its fee cannot be
    // worked out, and the placeholder -1 must never reach the balance.
    return;
  }
  (void)BalanceCheck(books, card, fee);
}
