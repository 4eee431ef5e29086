// SPDX-License-Identifier: Apache-2.0
// The books as the store keeps them: the card file, which a change replaces whole, and the files
// a change appends to: the six terminal logs and the two income reports.
#pragma once

#include <string_view>

#include "Books.h"
#include "Card.h"

// The two income reports, appended to by every settlement and never read back.
inline constexpr std::string_view kSubwayReportName = "SubwayCompany.txt";
inline constexpr std::string_view kBusReportName = "BusCompany.txt";

// Whether |name| is a file a change of the books appends to: a terminal log or a report.
bool IsAppendedFileName(std::string_view name);

inline constexpr BookRules kCardBooks{kCardFileName, IsCardLine, IsAppendedFileName};
