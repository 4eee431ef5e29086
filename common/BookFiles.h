// SPDX-License-Identifier: Apache-2.0
// The books as the store keeps them: the card file, which a change replaces whole, and the files
// a change appends to: the six terminal logs, the two income reports and the settlements.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "Books.h"
#include "Card.h"

// The two income reports, appended to by every settlement and never read back.
inline constexpr std::string_view kSubwayReportName = "SubwayCompany.txt";
inline constexpr std::string_view kBusReportName = "BusCompany.txt";

// What each settlement settled, appended in the same change as its reports, one line each:
//   "LOG STAMP"   the first bytes of the log LOG ("1111.txt"), STAMP as ContentStamp gives it;
//   "runs NAME"   every kept run named with kSettlingSuffix and NAME.
inline constexpr std::string_view kSettlementsName = "Settlements.txt";
// The settlements are read whole, by a start and by a settlement of kept runs: a few lines a
// settlement.
inline constexpr std::size_t kLongestSettlements = std::size_t{64} << 20;

// How many bytes at the start of the log |path| a settlement covered: those of the last line of
// the settlements for its name, when its stamp is still the log's. 0 when none, or when the log
// or the settlements cannot be read (said, but for a missing one): nothing is taken as settled
// that is not known to be.
std::uint64_t SettledBytes(const std::string& path);

// Whether |name| is a file a change of the books appends to: a log, a report, the settlements.
bool IsAppendedFileName(std::string_view name);

inline constexpr BookRules kCardBooks{kCardFileName, IsCardLine, IsAppendedFileName};
