// SPDX-License-Identifier: Apache-2.0
#include <cstdio>

#include "Tariff.h"
#include "Terminal.h"

void Not_Trans_S_IN_IN(Card card) {
  card.transfer = 'F';
  if (BalanceCheck(card, Fee{kBaseFare, kMissedOffSubway, 0, 'I'}) != kNotCharged) {
    std::printf("BalanceCheck Complete.\n");
  }
}
