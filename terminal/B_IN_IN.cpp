// SPDX-License-Identifier: Apache-2.0
#include "Tariff.h"
#include "Terminal.h"

void B_IN_IN(HeldBooks& books, Card card) {
  card.transfer = 'F';
  // The outcome reaches the passenger through the result block alone.
  (void)BalanceCheck(books, card, Fee{kBaseFare, kMissedOffBusTransfer, 0, 'I'});
}
