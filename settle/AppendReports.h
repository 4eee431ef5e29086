// SPDX-License-Identifier: Apache-2.0
// The income reports of one settlement change together or not at all: a report holding this
// run's lines while the other lacks them would pass one operator's income for settled twice.
#pragma once

#include <span>
#include <string>
#include <string_view>

// One report file of the data directory and the lines this run appends to it.
struct ReportLines {
  std::string_view name;  // "SubwayCompany.txt"
  std::string lines;
};

// Opens every report of |reports| (creating one that is missing only once all that exist have
// opened) and locks each, in the order given, against another settlement; then appends each
// one's lines in one durable write. When a report cannot be opened or written, the lines
// already appended to the others are taken back (each cut back to its length before), and
// "Cannot write <path>!" naming that report is printed on standard output, the reason on
// standard error, as is any report that could not be taken back. True when all were written.
[[nodiscard]] bool AppendReports(std::span<const ReportLines> reports);
