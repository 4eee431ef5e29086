// SPDX-License-Identifier: Apache-2.0
#include "CreditEntries.h"
#include "Fares.h"
#include "Settle.h"

namespace {

// An ordinary ride's whole fare, base fare plus additional fee, belongs to the operator at
// whose terminal it ended.
void CreditOrdinaryRide(const FareEntry& entry, Income& income) {
  if (entry.inOut != 'O' || entry.transfer != 'F') return;
  (entry.atBusStation ? income.busIncome : income.subwayIncome) +=
      std::int64_t{entry.additionalFee} + kBaseFare;
}

}  // namespace

void GeneralCalculator(const EntryTable& table, Income income, std::size_t count) {
  // Through a lambda, so that the credit of one entry is inlined into the walk.
  CreditEntries(table, count, income,
                [](const FareEntry& entry, Income& totals) { CreditOrdinaryRide(entry, totals); });
  OutputHandler(table, income, count);
}
