// SPDX-License-Identifier: Apache-2.0
#include <cstdio>

#include "Tariff.h"
#include "Terminal.h"

void Not_Trans_S_IN_IN(HeldBooks& books, Card card) {
  card.transfer = 'F';
  if (BalanceCheck(books, card, Fee{kBaseFare, kMissedOffSubway, 0, 'I'}) != kNotCharged) {
    std::printf("BalanceCheck Complete.\n");
  }
}
