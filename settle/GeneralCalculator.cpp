#include "Allocation.h"
#include "CreditEntries.h"
#include "Settle.h"
#include "SettleConstants.h"

namespace {

// An ordinary ride's whole fare, base fare plus additional fee, belongs to the operator at
// whose terminal it ended.
template <typename Totals>
void CreditOrdinaryRide(const FareEntry& entry, Totals& income) {
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
  CreditEntries(table, count, income,
                [](const FareEntry& entry, auto& totals) { CreditOrdinaryRide(entry, totals); });
  OutputHandler(table, income, count);
}
