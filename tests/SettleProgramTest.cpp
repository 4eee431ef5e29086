// SPDX-License-Identifier: Apache-2.0
// The settlement as a real program, run on hand-written logs with its clock frozen.
#include <signal.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#include <gtest/gtest.h>

#include "DataDir.h"
#include "DataFiles.h"
#include "Process.h"

namespace {

constexpr std::int64_t kExampleTime = 1433858700;  // 2015-06-09 14:05:00 UTC
constexpr const char* kRule = "----------------------------\n";

// One day of card 42: an ordinary subway ride from station 1 to station 3 (fee 200), then a
// bus ride and a transfer from station 4 to station 5 (fee 300). Station 2 served no one.
const std::map<std::string, std::string> kExampleLogs = {
    {"1111.txt", "1111 1050 0 0 42 F 0 S I 1433851200 201569120\n"},
    {"2222.txt", ""},
    {"3333.txt", "3333 0 0 200 42 F 1250 S O 1433852400 2015691220\n"},
    {"4444.txt", "4444 0 0 0 42 T 1050 B I 1433855710 2015691315\n"},
    {"5555.txt", "5555 0 0 300 42 T 1350 S O 1433856600 2015691330\n"},
    {"6666.txt",
     "6666 1050 0 0 42 F 1250 S I 1433854800 201569130\n"
     "6666 0 0 0 42 F 1050 B O 1433855700 2015691315\n"},
};

const std::string kExampleSummary = std::string(kRule) +
                                    "Date : 2015-6-9 14:5\nOverall Fee : 2600 Won\n"
                                    "Subway Fee : 2009 Won\nBus Fee : 591 Won\n" +
                                    kRule;

struct Settlement {
  DataDir dir;
  ClockFile clock{dir.Path("clock")};

  explicit Settlement(const std::map<std::string, std::string>& logs = kExampleLogs) {
    clock.Set(kExampleTime);
    for (const auto& [name, text] : logs) dir.Write(name, text);
  }
  RunResult Run() { return RunProgram(SETTLE_BIN, "", {dir.workdir(), &clock, {}}); }
};

TEST(SettleProgram, SettlesTheExampleDay) {
  Settlement settlement;
  const RunResult run = settlement.Run();
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, kExampleSummary);
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(settlement.dir.Read("SubwayCompany.txt"),
            "Date : 2015-6-9 14:5\nSubway Income : 2009 Won\n");
  EXPECT_EQ(settlement.dir.Read("BusCompany.txt"), "Date : 2015-6-9 14:5\nBus Income : 591 Won\n");
}

TEST(SettleProgram, SecondRunAppendsToBothReports) {
  Settlement settlement;
  ASSERT_EQ(settlement.Run().status, 0);
  settlement.dir.Write("3333.txt", "");  // the next day: the ordinary ride is gone
  settlement.clock.Set(kExampleTime + 86400 - 840);
  const RunResult run = settlement.Run();
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, std::string(kRule) +
                         "Date : 2015-6-10 13:51\nOverall Fee : 1350 Won\n"
                         "Subway Fee : 759 Won\nBus Fee : 591 Won\n" +
                         kRule);
  EXPECT_EQ(settlement.dir.Read("SubwayCompany.txt"),
            "Date : 2015-6-9 14:5\nSubway Income : 2009 Won\n"
            "Date : 2015-6-10 13:51\nSubway Income : 759 Won\n");
  EXPECT_EQ(settlement.dir.Read("BusCompany.txt"),
            "Date : 2015-6-9 14:5\nBus Income : 591 Won\n"
            "Date : 2015-6-10 13:51\nBus Income : 591 Won\n");
}

TEST(SettleProgram, MissingLogStopsBeforeAnyReport) {
  for (const auto& [missing, text] : kExampleLogs) {
    SCOPED_TRACE(missing);
    Settlement settlement;
    std::filesystem::remove(settlement.dir.Path(missing));
    const RunResult run = settlement.Run();
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "Cannot find DB!\n");
    EXPECT_NE(run.err.find("../../" + missing), std::string::npos) << run.err;
    EXPECT_FALSE(settlement.dir.Exists("SubwayCompany.txt"));
    EXPECT_FALSE(settlement.dir.Exists("BusCompany.txt"));
  }
}

TEST(SettleProgram, EmptyLogsSettleToZero) {
  std::map<std::string, std::string> empty = kExampleLogs;
  for (auto& [name, text] : empty) text.clear();
  Settlement settlement(empty);
  const RunResult run = settlement.Run();
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, std::string(kRule) +
                         "Date : 2015-6-9 14:5\nOverall Fee : 0 Won\n"
                         "Subway Fee : 0 Won\nBus Fee : 0 Won\n" +
                         kRule);
  EXPECT_EQ(settlement.dir.Read("BusCompany.txt"), "Date : 2015-6-9 14:5\nBus Income : 0 Won\n");
}

TEST(SettleProgram, DamagedLogAndUnwritableReportAreBothTold) {
  std::map<std::string, std::string> logs = kExampleLogs;
  logs["2222.txt"] = "2222 0 0 7";  // a line cut short by a crash; it must not count
  Settlement settlement(logs);
  std::filesystem::create_directory(settlement.dir.Path("BusCompany.txt"));
  const RunResult run = settlement.Run();
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, "Cannot write ../../BusCompany.txt!\n");
  EXPECT_NE(run.err.find("settle: ../../2222.txt: line 1, byte 0: damaged record skipped\n"),
            std::string::npos)
      << run.err;
  EXPECT_NE(run.err.find("../../BusCompany.txt: Is a directory"), std::string::npos) << run.err;
  // The reports change together or not at all: the subway report is not even made.
  EXPECT_FALSE(settlement.dir.Exists("SubwayCompany.txt"));
}

// Whether process |pid| has the file |path| open.
bool HasOpen(pid_t pid, const std::string& path) {
  std::error_code error;
  for (const auto& fd :
       std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd", error)) {
    if (std::filesystem::read_symlink(fd.path(), error) == path) return true;
  }
  return false;
}

// The card lock is held only while settle opens the logs. A terminal that gets it while settle
// still reads may empty its log (a new file renamed over it) and log a tag; settle settles the
// logs as they stood under the lock all the same.
TEST(SettleProgram, ReadsTheLogsAsTheyStoodUnderTheLockWithoutHoldingIt) {
  std::map<std::string, std::string> logs = kExampleLogs;
  constexpr int kRides = 400000;  // enough to be caught reading
  for (int i = 0; i < kRides; ++i) logs["1111.txt"] += "1111 0 0 200 7 F 1250 S O 1 2\n";
  for (int attempt = 0; attempt < 5; ++attempt) {
    Settlement settlement(logs);
    const std::string log = settlement.dir.Path("1111.txt");
    Process settle(SETTLE_BIN, {settlement.dir.workdir(), &settlement.clock, {}});
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!HasOpen(settle.pid(), log) && std::chrono::steady_clock::now() < give_up) {
    }
    const int lock = LockFile(DataPath("usercard.lock"));
    kill(settle.pid(), SIGSTOP);
    const bool caught_reading = HasOpen(settle.pid(), log);
    settlement.dir.Write("1111.txt.new", "");
    std::filesystem::rename(settlement.dir.Path("1111.txt.new"), log);
    std::ofstream(settlement.dir.Path("3333.txt"), std::ios::app) << kExampleLogs.at("3333.txt");
    UnlockFile(lock);
    kill(settle.pid(), SIGCONT);
    EXPECT_EQ(settle.Wait(), 0);
    if (!caught_reading) continue;  // it was done before it could be stopped: once more
    EXPECT_EQ(settle.out(), std::string(kRule) + "Date : 2015-6-9 14:5\nOverall Fee : " +
                                std::to_string(2600 + kRides * 1250) +
                                " Won\nSubway Fee : " + std::to_string(2009 + kRides * 1250) +
                                " Won\nBus Fee : 591 Won\n" + kRule);
    return;
  }
  FAIL() << "settle was never caught reading the logs without the card lock";
}

}  // namespace
