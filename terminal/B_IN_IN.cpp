// SPDX-License-Identifier: Apache-2.0
#include "Tariff.h"
#include "Terminal.h"

void B_IN_IN(Card card) {
  card.transfer = 'F';
  // The outcome reaches the passenger through the result block alone.
  (void)BalanceCheck(card, Fee{kBaseFare, kMissedOffBusTransfer, 0, 'I'});
}
