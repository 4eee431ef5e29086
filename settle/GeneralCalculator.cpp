#include <algorithm>

#include "Allocation.h"
#include "Settle.h"
#include "SettleConstants.h"

namespace {

// An ordinary ride's whole fare, base fare plus additional fee, belongs to the operator at
// whose terminal it ended.
void CreditOrdinaryRide(const LogEntry& entry, Income& income) {
  if (entry.inOut != 'O' || entry.transfer != 'F') return;
  const std::int64_t fare = entry.additionalFee + kBaseFare;
  if (entry.termId == kBusStationId) {
    Credit(income, 0, fare);
  } else {
    Credit(income, fare, 0);
  }
}

}  // namespace

void GeneralCalculator(const EntryTable& table, Income income, std::size_t count) {
  std::for_each_n(table.begin(), std::min(count, table.size()),
                  [&income](const LogEntry& entry) { CreditOrdinaryRide(entry, income); });
  OutputHandler(table, income, count);
}
