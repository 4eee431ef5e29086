// SPDX-License-Identifier: Apache-2.0
#include "Allocation.h"

std::optional<WideWon> BusShare(std::int64_t trip, std::int64_t bus_weight,
                                std::int64_t first_leg_fare) {
  const std::int64_t divisor = trip + first_leg_fare;
  if (divisor == 0) return std::nullopt;
  return myRound(static_cast<WideWon>(trip) * bus_weight, divisor);
}
