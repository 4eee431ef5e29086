// SPDX-License-Identifier: Apache-2.0
// The tag tests' card: no rule writes its previous fare 777 or previous vehicle 'Z'.
#pragma once

#include "Card.h"

inline constexpr std::int64_t kCardTime = 1401959220;  // 2014-06-05 09:07:00 UTC

inline Card TestCard(char in_out, char vehicle, char transfer, std::int32_t term,
                     std::int32_t balance = 10000) {
  return {42, kCardTime, vehicle, in_out, {1050, 0, 0, in_out}, term, transfer, balance, 777, 'Z'};
}
