// SPDX-License-Identifier: Apache-2.0
// Kept runs: a start keeping the run before beside its log, settled or not, and a day of the real
// programs with restarts before, during and after a settlement, then settle --kept-runs, until
// every charged tag is credited exactly once.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <regex>

#include <gtest/gtest.h>

#include "BookFiles.h"
#include "DataFiles.h"
#include "Harness.h"

namespace {

namespace fs = std::filesystem;

// The log's old file becomes the kept run, named after the start in UTC whatever the time zone,
// blocks and all (the same inode), as settled, as not settled, or split where a settlement
// ended; a new empty file of the log's mode takes its place; nothing is kept of an empty log; a
// name sorts after every kept run there, a clock set back or not; a split left half done (its
// tail copied, not yet cut) is finished first.
TEST(DataFiles, StartKeepsTheRunBeforeBesideTheLog) {
  using Runs = std::map<std::string, std::string>;  // kept runs, "D/" beside the log's link
  const std::string at = "1111.txt.run-20251208T130502Z";
  const struct {
    const char* name;
    const char* log;  // nullptr: none
    std::uint64_t settled;
    Runs before, after;
    const char* where = "1111.txt";
  } rows[] = {
      // clang-format off
      {"lines are kept", "a\nb\n", 0, {}, {{at + ".unsettled", "a\nb\n"}}},
      {"all settled", "a\nb\n", 4, {}, {{at + ".settled", "a\nb\n"}}},
      {"split where a settlement ended", "a\nb\n", 2, {},
       {{at + ".settled", "a\n"}, {at + "-02.unsettled", "b\n"}}},
      {"an empty log keeps nothing", "", 0, {}, {}},
      {"a missing log is made", nullptr, 0, {}, {}},
      {"a second start in the same second", "a\n", 0, {{at + ".settled", "x\n"}},
       {{at + ".settled", "x\n"}, {at + "-02.unsettled", "a\n"}}},
      {"the clock set back", "a\n", 0, {{"1111.txt.run-20261208T130502Z-99.settled", "x\n"}},
       {{"1111.txt.run-20261208T130502Z-99.settled", "x\n"},
        {"1111.txt.run-20261208T130503Z.unsettled", "a\n"}}},
      {"a split left half done", "a\n", 0,
       {{at + ".split-2", "x\ny\n"}, {at + "-02.unsettled", "y\n"}},
       {{at + ".settled", "x\n"}, {at + "-02.unsettled", "y\n"}, {at + "-03.unsettled", "a\n"}}},
      {"a log that is a link", "a\n", 0, {}, {{"D/" + at + ".unsettled", "a\n"}}, "D/station"},
      // clang-format on
  };
  setenv("TZ", "Asia/Seoul", 1);
  tzset();
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    DataDir dir;
    const std::string d = row.where[0] == 'D' ? "D/" : "";
    fs::create_directory(dir.Path("D"));
    if (!d.empty()) fs::create_symlink(row.where, dir.Path("1111.txt"));
    if (row.log != nullptr) dir.Write(row.where, row.log);
    chmod(dir.Path(row.where).c_str(), 0640);
    for (const auto& [name, bytes] : row.before) dir.Write(d + name, bytes);
    struct stat old {
    }, now{}, run{};
    stat(dir.Path(row.where).c_str(), &old);
    ASSERT_TRUE(KeepRun(DataPath("1111.txt"), 1765199102, row.settled));
    ASSERT_EQ(stat(dir.Path(row.where).c_str(), &now), 0);
    EXPECT_EQ(dir.Read("1111.txt"), "");
    const mode_t mask = umask(0);
    umask(mask);
    EXPECT_EQ(now.st_mode & 07777, row.log != nullptr ? 0640 : 0666 & ~mask);
    Runs runs;
    for (const auto& entry : fs::recursive_directory_iterator(dir.root())) {
      const std::string name = fs::relative(entry.path(), dir.root());
      if (name.find(".run-") != std::string::npos) runs[name] = dir.Read(name);
    }
    EXPECT_EQ(runs, row.after);
    const std::string first = d + at + (row.settled > 0 ? ".settled" : ".unsettled");
    if (row.log == nullptr || *row.log == '\0' || !row.after.count(first)) continue;
    ASSERT_EQ(stat(dir.Path(first).c_str(), &run), 0);
    EXPECT_EQ(run.st_ino, old.st_ino) << "the run was copied, not kept";
  }
  setenv("TZ", "UTC", 1);
  tzset();
}

// A start takes as settled only the bytes the last settlement of its log names, and only while
// that line still names this file and these bytes.
TEST(DataFiles, OnlyWhatTheLastSettlementOfTheLogNamesIsSettled) {
  const struct {
    const char *name, *since;  // the log's bytes since the mark ("": as marked)
    std::string others;        // settlements after the mark ("-": no settlement at all)
    std::uint64_t settled;
    bool copied = false;  // the log replaced by a new file of those bytes
  } rows[] = {
      {"the bytes marked", "", "", 2},
      {"no settlement", "", "-", 0},
      {"a later settlement of another log", "", "2222.txt 9 2 0\n", 2},
      {"a later settlement of the log", "", "1111.txt 9 2 0\n", 0},
      {"lines added since", "a\nb\n", "", 2},
      {"a line changed since", "x\nb\n", "", 0},
      {"the log replaced by a copy", "a\n", "", 0, true},
      {"the log cut short", "a", "", 0},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    DataDir dir;
    dir.Write("1111.txt", "a\n");
    const int log = open(dir.Path("1111.txt").c_str(), O_RDONLY);
    const std::string mark = "1111.txt " + ContentStamp(log, 2).value_or("?") + "\n";
    close(log);
    if (row.others != "-") dir.Write("Settlements.txt", mark + row.others);
    if (*row.since != '\0') dir.Write(row.copied ? "copy" : "1111.txt", row.since);
    if (row.copied) fs::rename(dir.Path("copy"), dir.Path("1111.txt"));
    EXPECT_EQ(SettledBytes(DataPath("1111.txt")), row.settled);
  }
}

// The sum of the N of every "WHAT : N Won" line of |text|.
long long Sum(const std::string& text, const std::string& what) {
  long long sum = 0;
  const std::regex line(what + " : (-?[0-9]+) Won");
  for (std::sregex_iterator at(text.begin(), text.end(), line), end; at != end; ++at)
    sum += std::stoll((*at)[1]);
  return sum;
}

TEST(KeptRuns, EveryChargedTagIsSettledOnceWhateverTheRestarts) {
  Station day;
  day.dir.Write("usercard.txt", kOpeningCard);
  const auto start = [&](int station, const std::string& tags) {
    auto terminal = std::make_unique<Process>(TERMINAL_BIN, day.Options());
    terminal->Write(std::to_string(station) + "\n" + tags);
    EXPECT_TRUE(terminal->WaitForCount(kMenu, CountOf(tags, "\n") + 1));
    return terminal;
  };
  const auto stop = [](std::unique_ptr<Process> terminal) {
    terminal->Signal(SIGTERM);
    EXPECT_EQ(terminal->Wait(), 0);
    EXPECT_EQ(terminal->err(), "");
  };
  ProcessOptions kept = day.Options();
  kept.wrapper = {"/bin/sh", "-c", "exec \"$0\" --kept-runs"};
  const auto settle = [&](const ProcessOptions& options) {
    const RunResult run = RunProgram(SETTLE_BIN, "", options);
    EXPECT_EQ(run.err, "");
    return Sum(run.out, "Overall Fee");
  };
  const auto restart_all = [&] {
    for (int station = 1; station <= 6; ++station) stop(start(station, ""));
  };
  restart_all();
  stop(start(1, "1\n"));
  stop(start(3, "2\n"));
  stop(start(1, ""));  // the get-on kept, not settled
  auto running = start(2, "1\n");
  const long long plain = settle(day.Options());  // in the middle of that run
  running->Write("2\n1\n");
  ASSERT_TRUE(running->WaitForCount(kChargedLine, 3));
  stop(std::move(running));
  stop(start(2, "2\n"));  // splits the run where the settlement ended
  const long long first = settle(kept);
  restart_all();
  const long long second = settle(kept);
  EXPECT_EQ(settle(kept), 0);
  EXPECT_TRUE(plain > 0 && first > 0 && second > 0) << plain << " " << first << " " << second;
  // Every line charged that day, settled at once from the logs and every kept run.
  DataDir all;
  std::size_t lines = 0;
  for (int station = 1; station <= 6; ++station) {
    std::string log;
    for (const auto& entry : fs::directory_iterator(day.dir.root())) {
      const std::string name = entry.path().filename();
      if (name.starts_with(LogNameOf(station))) log += day.dir.Read(name);
      EXPECT_TRUE(name.find(".run-") == std::string::npos || name.ends_with(".settled")) << name;
    }
    all.Write(LogNameOf(station), log);
    lines += CountOf(log, "\n");
  }
  EXPECT_EQ(lines, 6u);
  const long long once = settle({all.workdir(), &day.clock});
  EXPECT_EQ(plain + first + second, once);
  const std::string reports = day.dir.Read("SubwayCompany.txt") + day.dir.Read("BusCompany.txt");
  EXPECT_EQ(Sum(reports, "Subway Income") + Sum(reports, "Bus Income"), once);
}

}  // namespace
