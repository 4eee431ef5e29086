// SPDX-License-Identifier: Apache-2.0
#include <utility>

#include "Allocation.h"
#include "Clock.h"
#include "CreditEntries.h"
#include "Fares.h"
#include "Settle.h"

namespace {

// A surcharge stands for a ride that was never tagged off; it is credited as if that ride had
// ended with the surcharge as its fee. The entry's terminal, direction and transfer flag do not
// matter here.
void CreditSurcharge(const FareEntry& entry, Income& income) {
  switch (entry.surcharge) {
    case Surcharge::kSubwayTransferOff: {
      // A subway transfer ride after a bus ride at the base fare.
      const std::int64_t trip = std::int64_t{kBaseFare} + kMissedOffSubwayTransfer;
      if (const auto bus = BusShare(trip, kBaseFare, kBaseFare)) {
        income.subwayIncome += trip - *bus;
        income.busIncome += *bus;
      }
      break;
    }
    case Surcharge::kBusTransferOff: {
      // A bus transfer ride after a subway ride that cost prevFare.
      const std::int64_t first_leg = entry.prevFare;
      const std::int64_t trip = first_leg + kMissedOffBusTransfer;
      if (const auto bus = BusShare(trip, trip, first_leg)) {
        income.subwayIncome += trip - *bus;
        income.busIncome += *bus;
      }
      break;
    }
    case Surcharge::kSubwayOff:
      income.subwayIncome += std::int64_t{kBaseFare} + kMissedOffSubway;
      break;
    case Surcharge::kNone:
      break;
  }
}

}  // namespace

void Non_Ad_Calculator(const EntryTable& table, std::size_t count, std::string settled) {
  Income income;
  income.runTime = CurrentTime();
  income.settled = std::move(settled);
  // Through a lambda, so that the credit of one entry is inlined into the walk.
  CreditEntries(table, count, income,
                [](const FareEntry& entry, Income& totals) { CreditSurcharge(entry, totals); });
  TransferCalculator(table, income, count);
}
