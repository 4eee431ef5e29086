// SPDX-License-Identifier: Apache-2.0
#include "TerminalTag.h"

#include <gtest/gtest.h>

#include "BookFiles.h"
#include "FakeClock.h"
#include "Terminal.h"
#include "WhatTerm.h"

Card TestCard(char in_out, char vehicle, char transfer, std::int32_t term_id,
              std::int32_t balance) {
  Card card;
  card.cardId = 42;
  card.tagTime = kCardTime;
  card.vehicle = vehicle;
  card.inOut = in_out;
  card.fee = Fee{1050, 0, 0, in_out};
  card.termId = term_id;
  card.transfer = transfer;
  card.balance = balance;
  card.prevFare = 777;     // no rule ever sets this value, so a change shows
  card.prevVehicle = 'Z';  // likewise
  return card;
}

TagResult Tag(const DataDir& dir, const Card& card, std::int32_t here, std::int64_t seconds,
              int choice) {
  return TagAt(dir, card, here, card.tagTime + seconds, choice);
}

TagResult TagAt(const DataDir& dir, const Card& card, std::int32_t here, std::int64_t now,
                int choice) {
  HeldBooks books = LockBooks(kCardBooks);
  EXPECT_TRUE(CardWriter(books, card));
  WhatTerm = here;
  SetCurrentTime(now);
  testing::internal::CaptureStdout();
  if (choice == 1) {
    OnSensorHandler(books);
  } else {
    OffSensorHandler(books);
  }
  TagResult result;
  result.out = testing::internal::GetCapturedStdout();
  result.card = dir.Read("usercard.txt");
  result.log = dir.Read(LogFileName(here));
  return result;
}

std::string ChargedBlock(std::int32_t fee, std::int32_t balance_after) {
  return "------------------------------\nTagging is processed competely.\n\nTotal fee : " +
         std::to_string(fee) + ".\nYour balance : " + std::to_string(balance_after) +
         ".\n------------------------------\n";
}

std::string RefusedBlock(std::int32_t fee, std::int32_t balance) {
  return "------------------------------\nNot enough balance..\n\nTotal fee : " +
         std::to_string(fee) + ".\nYour balance : " + std::to_string(balance) +
         ".\n------------------------------\n";
}
