// SPDX-License-Identifier: Apache-2.0
#include <cstdio>

#include "Tariff.h"
#include "Terminal.h"

void DisplayInterface(std::int32_t status, DisplayInfo info) {
  if (status != kCharged && status != kNotCharged) return;
  const std::int32_t shown = status == kCharged ? info.balance - info.totalFee : info.balance;
  std::printf("------------------------------\n");
  std::printf("%s\n", info.message);
  std::printf("Total fee : %d.\n", info.totalFee);
  std::printf("Your balance : %d.\n", shown);
  std::printf("------------------------------\n");
}
