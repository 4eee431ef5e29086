// SPDX-License-Identifier: Apache-2.0
// The real settle program on the example day (SettleLogs.h), its clock frozen: what it settles,
// what it refuses, and the logs as they stood under the card lock while a terminal goes on.
#include <signal.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "DataDir.h"
#include "DataFiles.h"
#include "Process.h"
#include "SettleLogs.h"

namespace {

namespace fs = std::filesystem;
const std::string kRule = "----------------------------\n", kDate = "Date : 2015-6-9 14:5\n";

struct Settlement {
  DataDir dir;
  ClockFile clock{dir.Path("clock")};

  explicit Settlement(const std::map<std::string, std::string>& logs = kExampleLogs) {
    clock.Set(1433858700);  // 2015-06-09 14:05:00 UTC
    for (const auto& [name, text] : logs) dir.Write(name, text);
  }
  ProcessOptions Options() const { return {dir.workdir(), &clock, {}}; }
};

// The example day settled into both reports. A log missing or no regular file stops the run
// before any report is made; a report that cannot be written is named after each damaged record
// skipped, and the other report is not made either.
TEST(SettleProgram, SettlesTheExampleDayOrTellsWhyNot) {
  const struct {
    const char* log;
    const char* in_place;  // what stands in its place, if not the example's log
    const char* out;
    const char* err;
  } rows[] = {
      {"2222.txt", nullptr, "", ""},
      {"1111.txt", "", "Cannot find DB!\n", "settle: ../../1111.txt: No such file or directory\n"},
      {"3333.txt", "fifo", "Cannot find DB!\n", "settle: ../../3333.txt: not a regular file\n"},
      {"6666.txt", "/dev/zero", "Cannot find DB!\n",
       "settle: ../../6666.txt: not a regular file\n"},
      {"2222.txt", "2222 0 0 7", "Cannot write ../../BusCompany.txt!\n",
       "settle: ../../2222.txt: line 1, byte 0: damaged record skipped\n"
       "settle: ../../BusCompany.txt: Is a directory\n"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.err);
    Settlement settlement;
    const std::string path = settlement.dir.Path(row.log),
                      in_place = row.in_place ? row.in_place : "-";
    if (in_place != "-") fs::remove(path);
    if (in_place == "fifo") mkfifo(path.c_str(), 0644);
    if (in_place[0] == '/') fs::create_symlink(in_place, path);
    if (in_place[0] == '2') {
      settlement.dir.Write(row.log, in_place);  // a line cut short by a crash
      fs::create_directory(settlement.dir.Path("BusCompany.txt"));
    }
    const RunResult run = RunProgram(SETTLE_BIN, "", settlement.Options());
    const bool settled = *row.out == '\0';
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, settled ? kRule + kDate +
                                     "Overall Fee : 2600 Won\nSubway Fee : 2009 Won\n"
                                     "Bus Fee : 591 Won\n" +
                                     kRule
                               : row.out);
    EXPECT_EQ(run.err, row.err);
    EXPECT_EQ(settlement.dir.Read("SubwayCompany.txt"),
              settled ? kDate + "Subway Income : 2009 Won\n" : "<missing>");
    if (in_place[0] != '2') {
      EXPECT_EQ(settlement.dir.Read("BusCompany.txt"),
                settled ? kDate + "Bus Income : 591 Won\n" : "<missing>");
    }
  }
}

// Whether process |pid| has the file |path| open.
bool HasOpen(pid_t pid, const std::string& path) {
  std::error_code error;
  for (const auto& fd : fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd", error)) {
    if (fs::read_symlink(fd.path(), error) == path) return true;
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
    Process settle(SETTLE_BIN, settlement.Options());
    for (int wait = 0; wait < 200000 && !HasOpen(settle.pid(), log); ++wait) {
    }
    const int lock = LockFile(DataPath("usercard.lock"));
    kill(settle.pid(), SIGSTOP);
    const bool caught_reading = HasOpen(settle.pid(), log);
    settlement.dir.Write("1111.txt.new", "");
    fs::rename(settlement.dir.Path("1111.txt.new"), log);
    std::ofstream(settlement.dir.Path("3333.txt"), std::ios::app) << kExampleLogs.at("3333.txt");
    UnlockFile(lock);
    kill(settle.pid(), SIGCONT);
    EXPECT_EQ(settle.Wait(), 0);
    if (!caught_reading) continue;  // it was done before it could be stopped: once more
    EXPECT_EQ(settle.out(), kRule + kDate +
                                "Overall Fee : " + std::to_string(2600 + kRides * 1250) +
                                " Won\nSubway Fee : " + std::to_string(2009 + kRides * 1250) +
                                " Won\nBus Fee : 591 Won\n" + kRule);
    return;
  }
  FAIL() << "settle was never caught reading the logs without the card lock";
}

}  // namespace
