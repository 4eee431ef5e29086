// SPDX-License-Identifier: Apache-2.0
// The fixed names of the settlement; the fares are in Fares.h, the logs in FareEntries.h.
// Nothing here is configurable.
#pragma once

#include <string_view>

// The two report files, appended to by every run and never read back.
inline constexpr std::string_view kSubwayReportName = "SubwayCompany.txt";
inline constexpr std::string_view kBusReportName = "BusCompany.txt";
