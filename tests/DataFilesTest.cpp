// SPDX-License-Identifier: Apache-2.0
// The file helpers no program test reaches alone: a start keeping the run before, and a lock
// wait that gives the process its timer and its alarm handler back.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>

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
    const char* name;
    std::uint64_t marked;  // the bytes a settlement marked
    std::function<void(const DataDir&)> since;
    std::string others;  // lines of the settlements after the mark
    std::uint64_t settled;
  } rows[] = {
      {"the bytes marked", 2, [](const DataDir&) {}, "", 2},
      {"a later settlement of another log", 2, [](const DataDir&) {}, "2222.txt 9 2 0\n", 2},
      {"a later settlement of the log", 2, [](const DataDir&) {}, "1111.txt 9 2 0\n", 0},
      {"lines added since", 2, [](const DataDir& dir) { dir.Write("1111.txt", "a\nb\n"); }, "", 2},
      {"a line changed since", 2, [](const DataDir& dir) { dir.Write("1111.txt", "x\nb\n"); }, "",
       0},
      {"the log replaced by a copy", 2,
       [](const DataDir& dir) {
         dir.Write("copy", "a\n");
         fs::rename(dir.Path("copy"), dir.Path("1111.txt"));
       },
       "", 0},
      {"the log cut short", 2, [](const DataDir& dir) { dir.Write("1111.txt", "a"); }, "", 0},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    DataDir dir;
    dir.Write("1111.txt", "a\n");
    const int log = open(dir.Path("1111.txt").c_str(), O_RDONLY);
    const std::string mark = "1111.txt " + ContentStamp(log, row.marked).value_or("?") + "\n";
    close(log);
    dir.Write("Settlements.txt", mark + row.others);
    row.since(dir);
    EXPECT_EQ(SettledBytes(DataPath("1111.txt")), row.settled);
  }
  DataDir none;
  none.Write("1111.txt", "a\n");
  EXPECT_EQ(SettledBytes(DataPath("1111.txt")), 0u);
}

void Alarm(int) {}

// A wait for a lock another process holds borrows the real-time timer and SIGALRM, and gives
// both back: a timer the process had armed is still armed, its handler still its own.
TEST(DataFiles, LockWaitGivesTheTimerAndTheAlarmBack) {
  DataDir dir;
  const std::string path = DataPath("usercard.lock");
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  const pid_t holder = fork();
  if (holder == 0) {
    const int fd = open(path.c_str(), O_RDWR | O_CREAT, 0644);
    flock(fd, LOCK_EX);
    (void)write(ready[1], "x", 1);
    sleep(1);  // longer than a tick of the wait, so that the wait uses its timer
    _exit(0);
  }
  char byte = 0;
  ASSERT_EQ(read(ready[0], &byte, 1), 1);
  std::signal(SIGALRM, Alarm);
  const itimerval armed{{0, 0}, {60, 0}};
  setitimer(ITIMER_REAL, &armed, nullptr);
  testing::internal::CaptureStderr();
  const int lock = LockFile(path);
  testing::internal::GetCapturedStderr();
  EXPECT_GE(lock, 0);
  itimerval left{};
  getitimer(ITIMER_REAL, &left);
  struct sigaction handler {};
  sigaction(SIGALRM, nullptr, &handler);
  EXPECT_TRUE(left.it_value.tv_sec > 0 || left.it_value.tv_usec > 0) << "the timer was lost";
  EXPECT_EQ(handler.sa_handler, Alarm);
  const itimerval off{};
  setitimer(ITIMER_REAL, &off, nullptr);
  UnlockFile(lock);
  waitpid(holder, nullptr, 0);
}

}  // namespace
