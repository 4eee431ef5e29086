#include "CreditEntries.h"

bool AddShares(Income& income, const PartialIncome& first, const PartialIncome& second) {
  std::uint64_t reach = 0;
  if (first.wide || second.wide ||
      __builtin_add_overflow(Size(income.subwayIncome), Size(income.busIncome), &reach) ||
      __builtin_add_overflow(reach, first.size, &reach) ||
      __builtin_add_overflow(reach, second.size, &reach) || reach >= std::uint64_t{1} << 63) {
    return false;
  }
  income.subwayIncome += first.subway + second.subway;
  income.busIncome += first.bus + second.bus;
  return true;
}
