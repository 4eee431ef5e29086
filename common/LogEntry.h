// SPDX-License-Identifier: Apache-2.0
// One line of a terminal log: written by the terminal for every accepted tag, read back by the
// settlement.
#pragma once

#include <cstdint>

struct LogEntry {
  std::int32_t termId = 0;
  std::int32_t baseFee = 0;
  std::int32_t missedOffFee = 0;
  std::int32_t additionalFee = 0;
  std::int32_t cardId = 0;
  char transfer = 'F';
  std::int32_t prevFare = 0;
  char prevVehicle = 'S';
  char inOut = 'I';
  std::int64_t tagTime = 0;
  std::int64_t stamp = 0;  // the date digits read back as one number; not set when writing
};
