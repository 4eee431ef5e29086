// SPDX-License-Identifier: Apache-2.0
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "DataFiles.h"

namespace {

constexpr int kMostRunsASecond = 99;    // as KeptRunName numbers them
constexpr std::size_t kStampSize = 16;  // "20261208T130502Z"

}  // namespace

std::string KeptRunName(const std::string& log_name, std::int64_t start, int sequence) {
  const auto time = static_cast<std::time_t>(start);
  std::tm utc{};
  char stamp[64];
  if (gmtime_r(&time, &utc) == nullptr) {
    std::snprintf(stamp, sizeof stamp, "%lld", static_cast<long long>(start));
  } else {
    std::snprintf(stamp, sizeof stamp, "%04d%02d%02dT%02d%02d%02dZ", utc.tm_year + 1900,
                  utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec);
  }
  std::string name = log_name + ".run-" + stamp;
  if (sequence > 1) {
    std::snprintf(stamp, sizeof stamp, "-%02d", sequence);
    name += stamp;
  }
  return name;
}

std::string StemAfter(const std::string& stem) {
  const std::size_t at = stem.rfind(".run-") + 5;
  std::tm utc{};
  // A stem of no stamp of this form was not made here: a name after it is as good as any.
  if (at < 5 || strptime(stem.substr(at, kStampSize).c_str(), "%Y%m%dT%H%M%SZ", &utc) == nullptr) {
    return stem + "-02";
  }
  const std::string log_name = stem.substr(0, at - 5);
  const std::int64_t start = timegm(&utc);
  const std::size_t dash = at + kStampSize;
  const int sequence =
      stem.size() > dash ? static_cast<int>(std::strtol(stem.c_str() + dash + 1, nullptr, 10)) : 1;
  return sequence < kMostRunsASecond ? KeptRunName(log_name, start, sequence + 1)
                                     : KeptRunName(log_name, start + 1);
}
