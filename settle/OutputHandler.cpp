// SPDX-License-Identifier: Apache-2.0
#include <cerrno>
#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <string>
#include <vector>

#include "BookFiles.h"
#include "DataFiles.h"
#include "LocalDate.h"
#include "Settle.h"
#include "Signals.h"

namespace {

constexpr const char* kRule = "----------------------------";

std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));

std::string Format(const char* format, ...) {
  char text[128];
  va_list args;
  va_start(args, format);
  // The analyzer loses track of va_start on this platform's array-typed va_list.
  std::vsnprintf(text, sizeof text, format, args);  // NOLINT(clang-analyzer-valist.Uninitialized)
  va_end(args);
  return text;
}

// The report's three figures, each within 64 bits.
struct Figures {
  std::int64_t overall = 0;
  std::int64_t subway = 0;
  std::int64_t bus = 0;
};

bool Narrow(WideWon wide, std::int64_t& narrow) {
  narrow = static_cast<std::int64_t>(wide);
  return narrow == wide;
}

std::string Decimal(WideWon value) {
  const bool negative = value < 0;
  std::string digits;
  do {
    const auto digit = static_cast<int>(value % 10);
    digits.insert(digits.begin(), static_cast<char>('0' + (negative ? -digit : digit)));
    value /= 10;
  } while (value != 0);
  return negative ? "-" + digits : digits;
}

void PrintSummary(const std::string& date_line, const Figures& figures) {
  std::puts(kRule);
  std::fputs(date_line.c_str(), stdout);
  std::printf("Overall Fee : %" PRId64 " Won\n", figures.overall);
  std::printf("Subway Fee : %" PRId64 " Won\n", figures.subway);
  std::printf("Bus Fee : %" PRId64 " Won\n", figures.bus);
  std::puts(kRule);
}

// Commits the two reports' lines and the settlements' in one change of the books: under SIGKILL
// or a power cut as much as under a failed write, all gain their lines or none does. The stopping
// signals wait from the first write until the pair is committed. The index of the report that
// could not be written, or the number of reports once both are.
std::size_t CommitReports(const std::vector<BookAppend>& reports) {
  HoldStoppingSignals(true);
  HeldBooks books = LockBooks(kCardBooks);
  Committed committed;
  if (Held(books)) committed = CommitChange(books, "", reports);
  UnlockBooks(books);
  HoldStoppingSignals(false);
  return committed.done ? reports.size() : committed.failed;
}

}  // namespace

// A report holding this run's lines while the other lacked them would pass one operator's
// income for settled twice, and a run that failed may simply be run again. The summary is
// printed only when both were written: after a failure the one line naming the report that
// could not be written is the whole answer. Totals that do not fit the report are refused
// whole: a report line wrapped around, or cut to fit, would pass a wrong sum for the books.
void OutputHandler(const EntryTable& /*table*/, Income income, std::size_t /*count*/) {
  Figures figures;
  if (!Narrow(income.subwayIncome, figures.subway) || !Narrow(income.busIncome, figures.bus) ||
      !Narrow(income.subwayIncome + income.busIncome, figures.overall)) {
    std::puts("Income out of range!");
    std::fflush(stdout);
    std::fprintf(stderr, "%s: subway %s won, bus %s won: beyond the report's 64-bit figures\n",
                 program_invocation_short_name, Decimal(income.subwayIncome).c_str(),
                 Decimal(income.busIncome).c_str());
    return;
  }
  const LocalDate date = ToLocalDate(income.runTime);
  const std::string date_line =
      Format("Date : %d-%d-%d %d:%d\n", date.year, date.month, date.day, date.hour, date.minute);
  std::vector<BookAppend> reports = {
      {std::string(kSubwayReportName),
       date_line + Format("Subway Income : %" PRId64 " Won\n", figures.subway)},
      {std::string(kBusReportName),
       date_line + Format("Bus Income : %" PRId64 " Won\n", figures.bus)},
  };
  if (!income.settled.empty()) reports.push_back({std::string(kSettlementsName), income.settled});
  const std::size_t failed = CommitReports(reports);
  if (failed == reports.size()) {
    PrintSummary(date_line, figures);
  } else {
    std::printf("Cannot write %s!\n", DataPath(reports[failed].name).c_str());
  }
}
