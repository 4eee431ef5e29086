// SPDX-License-Identifier: Apache-2.0
// Calendar fields of a time stamp in the local time zone, as the console and the files show them.
#pragma once

#include <cstdint>

struct LocalDate {
  int year = 0;   // full calendar year, 2014 not 114
  int month = 0;  // 1 to 12
  int day = 0;
  int hour = 0;
  int minute = 0;
  int second = 0;
};

// Breaks |seconds| down in the local time zone. A time the C library cannot represent gives
// all fields 0 rather than undefined values.
LocalDate ToLocalDate(std::int64_t seconds);
