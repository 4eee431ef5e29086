// SPDX-License-Identifier: Apache-2.0
// The arithmetic the three passes share: the bus share of a trip.
#pragma once

#include <cstdint>
#include <optional>

#include "Settle.h"

// The bus operator's share r of trip amount |trip| (T), where the first leg cost
// |first_leg_fare| (F) and the bus weighs in with |bus_weight| (W: F when the bus ran the first
// leg, T when it ran the second): r = myRound(T * W / (T + F)), worked out exactly in whole
// numbers. The subway's share is T - r, so the two add up to T exactly. Nothing when T + F is 0:
// there is no proportion to share by (with T and F both 0 there is nothing to share either).
// Any amounts built from 32-bit log fields are shared exactly; the share then lies within 2^61.
std::optional<WideWon> BusShare(std::int64_t trip, std::int64_t bus_weight,
                                std::int64_t first_leg_fare);
