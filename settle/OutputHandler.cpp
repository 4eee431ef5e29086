#include <unistd.h>

#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <string>
#include <string_view>

#include "DataFiles.h"
#include "LocalDate.h"
#include "Settle.h"
#include "SettleConstants.h"

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

// Appends the two lines of this run to report |name| in one durable write, so a report never
// holds a date line without its income line. When that fails the report is named on standard
// output (the reason is on standard error) instead of passing for written.
void AppendReport(std::string_view name, const std::string& lines) {
  const std::string path = DataPath(name);
  const int fd = OpenForAppend(path);
  bool written = fd >= 0 && AppendDurably(fd, lines, path);
  if (fd >= 0 && close(fd) != 0) {
    ReportFileError(path);
    written = false;
  }
  if (!written) std::printf("Cannot write %s!\n", path.c_str());
}

void PrintSummary(const std::string& date_line, const Income& income) {
  std::puts(kRule);
  std::fputs(date_line.c_str(), stdout);
  std::printf("Overall Fee : %" PRId64 " Won\n", income.subwayIncome + income.busIncome);
  std::printf("Subway Fee : %" PRId64 " Won\n", income.subwayIncome);
  std::printf("Bus Fee : %" PRId64 " Won\n", income.busIncome);
  std::puts(kRule);
}

}  // namespace

// Each report is written on its own: one operator's report failing is no reason to keep the
// other's lines back, and the summary is still printed because the totals are right; the
// failure line tells which report lacks them.
void OutputHandler(const EntryTable& /*table*/, Income income, std::size_t /*count*/) {
  const LocalDate date = ToLocalDate(income.runTime);
  const std::string date_line =
      Format("Date : %d-%d-%d %d:%d\n", date.year, date.month, date.day, date.hour, date.minute);
  AppendReport(kSubwayReportName,
               date_line + Format("Subway Income : %" PRId64 " Won\n", income.subwayIncome));
  AppendReport(kBusReportName,
               date_line + Format("Bus Income : %" PRId64 " Won\n", income.busIncome));
  PrintSummary(date_line, income);
}
