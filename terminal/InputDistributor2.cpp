// SPDX-License-Identifier: Apache-2.0
#include <cstdio>
#include <cstdlib>

#include "Clock.h"
#include "Tariff.h"
#include "Terminal.h"

bool InputDistributor2(HeldBooks& books, Card card, std::int32_t mode, BookAppend log) {
  if (mode == kRouteMode) {
    CheckLIO(books, card);
    return true;
  }
  if (mode == kWriteMode) {
    card.tagTime = CurrentTime();
    return CardWriter(books, card, std::move(log));
  }
  std::printf("Wrong Input Error!\n");
  std::fflush(stdout);
  std::exit(0);
}
