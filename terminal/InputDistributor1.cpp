// SPDX-License-Identifier: Apache-2.0
#include <cstdio>
#include <cstdlib>

#include "Tariff.h"
#include "Terminal.h"

bool InputDistributor1(HeldBooks& books, Card card, std::int32_t mode, BookAppend log) {
  if (mode == kRouteMode) {
    // A get-off pays no base fare; its additional fee is worked out by the fare rules.
    InputDistributor3(books, card, TAG_OFF, Fee{0, 0, -1, 'O'});
    return true;
  }
  if (mode == kWriteMode) return CardWriter(books, card, std::move(log));
  std::printf("Wrong Input Error!\n");
  std::fflush(stdout);
  std::exit(0);
}
