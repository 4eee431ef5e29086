// SPDX-License-Identifier: Apache-2.0
#include "Settle.h"
#include "SettleConstants.h"

Surcharge SurchargeOf(std::int32_t missed_off_fee) {
  switch (missed_off_fee) {
    case kMissedSubwayTransferOff:
      return Surcharge::kSubwayTransferOff;
    case kMissedBusTransferOff:
      return Surcharge::kBusTransferOff;
    case kMissedSubwayOff:
      return Surcharge::kSubwayOff;
    default:
      return Surcharge::kNone;
  }
}

FareEntry ToFareEntry(const LogEntry& entry) {
  return {entry.additionalFee, entry.prevFare, SurchargeOf(entry.missedOffFee),
          entry.transfer,      entry.inOut,    entry.termId == kBusStationId};
}
