// The arithmetic the three passes share: the bus share of a trip and the crediting of totals.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "Settle.h"

// The bus operator's share r of trip amount |trip| (T), where the first leg cost
// |first_leg_fare| (F) and the bus weighs in with |bus_weight| (W: F when the bus ran the first
// leg, T when it ran the second): r = myRound(T * W / (T + F)), the product and the sum taken
// whole and divided as doubles. The subway's share is T - r, so the two add up to T exactly.
// Nothing when T + F is 0 (there is no proportion; with T and F both 0 there is nothing to
// share either) or when the quotient lies beyond 2^53, where whole won cannot be told apart.
// Any pair of 32-bit log amounts fits without overflow.
std::optional<std::int64_t> BusShare(std::int64_t trip, std::int64_t bus_weight,
                                     std::int64_t first_leg_fare);

// Adds |to_subway| and |to_bus| to |income|, both or neither: false, with |income| unchanged,
// when either total or their sum (the overall fee) would leave the 64-bit range.
bool Credit(Income& income, std::int64_t to_subway, std::int64_t to_bus);
