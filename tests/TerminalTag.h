// SPDX-License-Identifier: Apache-2.0
// The card the in-process tag tests start from, last tagged at kCardTime (2014-06-05 09:07 UTC);
// no rule writes its previous fare 777 or previous vehicle 'Z', so a rule that sets them shows.
#pragma once

#include "Card.h"

inline constexpr std::int64_t kCardTime = 1401959220;

inline Card TestCard(char in_out, char vehicle, char transfer, std::int32_t term,
                     std::int32_t balance = 10000) {
  return {42, kCardTime, vehicle, in_out, {1050, 0, 0, in_out}, term, transfer, balance, 777, 'Z'};
}
