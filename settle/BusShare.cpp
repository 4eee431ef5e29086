#include <cmath>

#include "Allocation.h"
#include "SettleConstants.h"

std::optional<std::int64_t> BusShare(std::int64_t trip, std::int64_t bus_weight,
                                     std::int64_t first_leg_fare) {
  const std::int64_t divisor = trip + first_leg_fare;
  if (divisor == 0) return std::nullopt;
  // Both factors are exact doubles, so their product rounds exactly as the whole product would
  // when converted; unlike a 64-bit product it cannot overflow.
  const double product = static_cast<double>(trip) * static_cast<double>(bus_weight);
  const double quotient = product / static_cast<double>(divisor);
  if (!(std::fabs(quotient) < kMaxShare)) return std::nullopt;
  return myRound(quotient);
}
