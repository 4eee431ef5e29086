#include "Allocation.h"

bool Credit(Income& income, std::int64_t to_subway, std::int64_t to_bus) {
  std::int64_t subway = 0;
  std::int64_t bus = 0;
  std::int64_t overall = 0;
  if (__builtin_add_overflow(income.subwayIncome, to_subway, &subway) ||
      __builtin_add_overflow(income.busIncome, to_bus, &bus) ||
      __builtin_add_overflow(subway, bus, &overall)) {
    return false;
  }
  income.subwayIncome = subway;
  income.busIncome = bus;
  return true;
}
