// SPDX-License-Identifier: Apache-2.0
#include <cstdio>
#include <cstring>

#include "Tariff.h"
#include "Terminal.h"

namespace {

DisplayInfo MakeDisplayInfo(const char* message, std::int32_t total_fee, std::int32_t balance) {
  DisplayInfo info{};
  std::strncpy(info.message, message, sizeof info.message - 1);
  info.totalFee = total_fee;
  info.balance = balance;
  return info;
}

}  // namespace

std::int32_t BalanceCheck(HeldBooks& books, Card card, Fee fee) {
  const std::int32_t charge = fee.baseFee + fee.missedOffFee + fee.additionalFee;
  if (card.balance < charge) {
    DisplayInterface(kNotCharged, MakeDisplayInfo("Not enough balance..\n", charge, card.balance));
    return kNotCharged;
  }
  const DisplayInfo info =
      MakeDisplayInfo("Tagging is processed competely.\n", charge, card.balance);
  if (!OutputHandler(books, card, fee)) {
    std::printf("File Write Error.\n");
    return kNotCharged;
  }
  DisplayInterface(kCharged, info);
  return kCharged;
}
