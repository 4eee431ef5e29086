// SPDX-License-Identifier: Apache-2.0
#include "Allocation.h"
#include "CreditEntries.h"
#include "Fares.h"
#include "Settle.h"

namespace {

// At the get-off that ends a transfer ride, the trip amount T (first-leg fare F plus this
// ride's additional fee) is shared in proportion F : T between the first-leg and the
// second-leg operator. The general pass has already credited F in full to the first-leg
// operator from that leg's own get-off, so F is taken back from it here.
void CreditTransferTrip(const FareEntry& entry, Income& income) {
  if (entry.inOut != 'O' || entry.transfer != 'T') return;
  if (!entry.atBusStation) {
    // Ended at a subway station: the bus ran the first leg, at the base fare.
    const std::int64_t trip = std::int64_t{entry.additionalFee} + kBaseFare;
    if (const auto bus = BusShare(trip, kBaseFare, kBaseFare)) {
      income.subwayIncome += trip - *bus;
      income.busIncome += *bus - kBaseFare;
    }
    return;
  }
  // Ended at the bus station: the subway ran the first leg, at prevFare.
  const std::int64_t first_leg = entry.prevFare;
  const std::int64_t trip = entry.additionalFee + first_leg;
  if (const auto bus = BusShare(trip, trip, first_leg)) {
    income.subwayIncome += trip - *bus - first_leg;
    income.busIncome += *bus;
  }
}

}  // namespace

void TransferCalculator(const EntryTable& table, Income income, std::size_t count) {
  // Through a lambda, so that the credit of one entry is inlined into the walk.
  CreditEntries(table, count, income,
                [](const FareEntry& entry, Income& totals) { CreditTransferTrip(entry, totals); });
  GeneralCalculator(table, income, count);
}
