// SPDX-License-Identifier: Apache-2.0
// The income report: the summary block and the report lines byte for byte, appending across
// runs, and reports that cannot be written.
#include <cstdint>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "DataDir.h"
#include "Settle.h"

namespace {

constexpr std::int64_t kExampleTime = 1433858700;  // 2015-06-09 14:05:00 UTC
constexpr const char* kRule = "----------------------------\n";

struct Report {
  std::string out;
  std::string err;
};

Report Output(Income income) {
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  OutputHandler(EntryTable{}, income, 0);
  Report report;
  report.err = testing::internal::GetCapturedStderr();
  report.out = testing::internal::GetCapturedStdout();
  return report;
}

std::string Summary(const std::string& date, const std::string& overall, const std::string& subway,
                    const std::string& bus) {
  return std::string(kRule) + "Date : " + date + "\nOverall Fee : " + overall +
         " Won\nSubway Fee : " + subway + " Won\nBus Fee : " + bus + " Won\n" + kRule;
}

TEST(SettleReport, SummaryAndReportLines) {
  const struct {
    const char* name;
    Income income;
    const char *date, *overall, *subway, *bus;
  } rows[] = {
      {"the example", {2009, 591, kExampleTime}, "2015-6-9 14:5", "2600", "2009", "591"},
      {"negative bus total", {759, -459, kExampleTime}, "2015-6-9 14:5", "300", "759", "-459"},
      {"both negative", {-1, -2, kExampleTime}, "2015-6-9 14:5", "-3", "-1", "-2"},
      {"one-digit fields", {0, 0, 1420167840}, "2015-1-2 3:4", "0", "0", "0"},
      {"midnight", {1, 0, 1451606400}, "2016-1-1 0:0", "1", "1", "0"},
      {"last minute of a year", {0, 1, 1451606399}, "2015-12-31 23:59", "1", "0", "1"},
      {"beyond 32 bits",
       {3000000000, 9000000000000000000, kExampleTime},
       "2015-6-9 14:5",
       "9000000003000000000",
       "3000000000",
       "9000000000000000000"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    DataDir dir;
    const Report report = Output(row.income);
    EXPECT_EQ(report.out, Summary(row.date, row.overall, row.subway, row.bus));
    EXPECT_EQ(report.err, "");
    const std::string date_line = std::string("Date : ") + row.date + "\n";
    EXPECT_EQ(dir.Read("SubwayCompany.txt"),
              date_line + "Subway Income : " + row.subway + " Won\n");
    EXPECT_EQ(dir.Read("BusCompany.txt"), date_line + "Bus Income : " + row.bus + " Won\n");
  }
}

TEST(SettleReport, RunsAppendAndKeepEarlierLines) {
  DataDir dir;
  dir.Write("BusCompany.txt", "Date : 2014-1-1 1:1\nBus Income : 5 Won\n");
  Output({2009, 591, kExampleTime});
  Output({-7, 0, kExampleTime + 3600});
  EXPECT_EQ(dir.Read("SubwayCompany.txt"),
            "Date : 2015-6-9 14:5\nSubway Income : 2009 Won\n"
            "Date : 2015-6-9 15:5\nSubway Income : -7 Won\n");
  EXPECT_EQ(dir.Read("BusCompany.txt"),
            "Date : 2014-1-1 1:1\nBus Income : 5 Won\n"
            "Date : 2015-6-9 14:5\nBus Income : 591 Won\n"
            "Date : 2015-6-9 15:5\nBus Income : 0 Won\n");
}

// The two reports change together or not at all: a report that cannot be opened or written
// is named in one line, and neither changes. A failing disk and a power cut at any step are
// the power-loss proof's (PowerLoss, the settlement's row).
TEST(SettleReport, ReportThatCannotBeWrittenIsNamedNotPassedOver) {
  namespace fs = std::filesystem;
  enum Kind { kEarlier, kMissing, kDirectory, kFullDisk };
  const std::string earlier[] = {"Date : 2014-1-1 1:1\nSubway Income : 5 Won\n",
                                 "Date : 2014-1-1 1:1\nBus Income : 6 Won\n"};
  const char* names[] = {"SubwayCompany.txt", "BusCompany.txt"};
  const struct {
    const char* name;
    Kind kinds[2];  // subway, bus
    int named;      // the report the answer names: 0 subway, 1 bus
  } rows[] = {
      {"subway report is a directory", {kDirectory, kEarlier}, 0},
      {"bus report is a directory", {kEarlier, kDirectory}, 1},
      {"bus report is a directory, subway report missing", {kMissing, kDirectory}, 1},
      {"both are directories", {kDirectory, kDirectory}, 0},
      {"subway report on a full disk", {kFullDisk, kEarlier}, 0},
      {"bus report on a full disk", {kEarlier, kFullDisk}, 1},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    DataDir dir;
    for (int i = 0; i < 2; ++i) {
      if (row.kinds[i] == kEarlier) dir.Write(names[i], earlier[i]);
      if (row.kinds[i] == kDirectory) fs::create_directory(dir.Path(names[i]));
      if (row.kinds[i] == kFullDisk) fs::create_symlink("/dev/full", dir.Path(names[i]));
    }
    const Report report = Output({2009, 591, kExampleTime});
    EXPECT_EQ(report.out, std::string("Cannot write ../../") + names[row.named] + "!\n");
    EXPECT_NE(report.err.find(std::string("../../") + names[row.named] + ": "), std::string::npos)
        << report.err;
    for (int i = 0; i < 2; ++i) {
      // A missing report is made only once every report has opened.
      if (row.kinds[i] == kEarlier || row.kinds[i] == kMissing) {
        EXPECT_EQ(dir.Read(names[i]), row.kinds[i] == kEarlier ? earlier[i] : "<missing>");
      }
    }
  }
}

}  // namespace
