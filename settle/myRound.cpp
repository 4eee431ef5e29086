// SPDX-License-Identifier: Apache-2.0
#include "Settle.h"

namespace {

// ceil(a / b) for b > 0. Division truncates toward zero, which is the ceiling unless a
// positive remainder is left.
template <typename Number>
Number CeilDiv(Number a, Number b) {
  return a / b + (a % b > 0 ? 1 : 0);
}

}  // namespace

// ceil(n / d - 1/2) = ceil((2n - d) / 2d), with both signs turned when d is negative so that
// the divisor is positive. Amounts a terminal writes fit 64 bits, whose division is the
// cheaper one.
WideWon myRound(WideWon numerator, std::int64_t divisor) {
  WideWon a = 2 * numerator - divisor;
  WideWon b = 2 * static_cast<WideWon>(divisor);
  if (b < 0) {
    a = -a;
    b = -b;
  }
  const auto narrow_a = static_cast<std::int64_t>(a);
  const auto narrow_b = static_cast<std::int64_t>(b);
  if (narrow_a == a && narrow_b == b) return CeilDiv(narrow_a, narrow_b);
  return CeilDiv(a, b);
}
