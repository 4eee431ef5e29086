// SPDX-License-Identifier: Apache-2.0
#include "FareEntries.h"
#include "Fares.h"

Surcharge SurchargeOf(std::int32_t missed_off_fee) {
  switch (missed_off_fee) {
    case kMissedOffSubwayTransfer:
      return Surcharge::kSubwayTransferOff;
    case kMissedOffBusTransfer:
      return Surcharge::kBusTransferOff;
    case kMissedOffSubway:
      return Surcharge::kSubwayOff;
    default:
      return Surcharge::kNone;
  }
}
