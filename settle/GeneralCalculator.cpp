#include "Allocation.h"
#include "Settle.h"
#include "SettleConstants.h"

namespace {

// An ordinary ride's whole fare, base fare plus additional fee, belongs to the operator at
// whose terminal it ended.
void CreditOrdinaryRide(const FareEntry& entry, Income& income) {
  if (entry.inOut != 'O' || entry.transfer != 'F') return;
  const std::int64_t fare = entry.additionalFee + kBaseFare;
  if (entry.atBusStation) {
    Credit(income, 0, fare);
  } else {
    Credit(income, fare, 0);
  }
}

}  // namespace

void GeneralCalculator(const EntryTable& table, Income income, std::size_t count) {
  ForEachEntry(table, count,
               [&income](const FareEntry& entry) { CreditOrdinaryRide(entry, income); });
  OutputHandler(table, income, count);
}
