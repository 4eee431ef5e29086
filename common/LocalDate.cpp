// SPDX-License-Identifier: Apache-2.0
#include "LocalDate.h"

#include <ctime>
#include <limits>

LocalDate ToLocalDate(std::int64_t seconds) {
  const auto when = static_cast<std::time_t>(seconds);
  std::tm parts{};
  if (localtime_r(&when, &parts) == nullptr) return {};
  // localtime still answers for years up to 1900 past the largest int, where the full year
  // would overflow.
  if (parts.tm_year > std::numeric_limits<int>::max() - 1900) return {};
  return {parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday,
          parts.tm_hour,        parts.tm_min,     parts.tm_sec};
}
