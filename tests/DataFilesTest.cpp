// SPDX-License-Identifier: Apache-2.0
// The file helpers no program test reaches alone: a start keeping the run before, and a lock
// wait that gives the process its timer and its alarm handler back.
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>

#include <gtest/gtest.h>

#include "DataFiles.h"
#include "Harness.h"

namespace {

namespace fs = std::filesystem;

// The log's old file becomes the kept run, named after the start in UTC whatever the time zone,
// blocks and all (the same inode); a new empty file of the log's mode takes its place; nothing is
// kept of an empty log; a name another start of the same second took is passed over.
TEST(DataFiles, StartKeepsTheRunBeforeBesideTheLog) {
  const struct {
    const char *name, *log, *taken, *where, *kept_as;  // log/taken: nullptr for none
  } rows[] = {
      // clang-format off
      {"lines are kept", "a\nb\n", nullptr, "1111.txt", "1111.txt.run-20251208T130502Z"},
      {"an empty log keeps nothing", "", nullptr, "1111.txt", nullptr},
      {"a missing log is made", nullptr, nullptr, "1111.txt", nullptr},
      {"a second start in the same second", "a\n", "x\n", "1111.txt", "1111.txt.run-20251208T130502Z-02"},
      {"a log that is a link", "a\n", nullptr, "logs/station", "logs/1111.txt.run-20251208T130502Z"},
      // clang-format on
  };
  setenv("TZ", "Asia/Seoul", 1);
  tzset();
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    DataDir dir;
    fs::create_directory(dir.Path("logs"));
    if (std::string_view(row.where) != "1111.txt")
      fs::create_symlink(row.where, dir.Path("1111.txt"));
    if (row.log != nullptr) dir.Write(row.where, row.log);
    chmod(dir.Path(row.where).c_str(), 0640);
    if (row.taken != nullptr) dir.Write("1111.txt.run-20251208T130502Z", row.taken);
    struct stat old {
    }, now{}, run{};
    stat(dir.Path(row.where).c_str(), &old);
    ASSERT_TRUE(KeepRun(DataPath("1111.txt"), 1765199102));
    ASSERT_EQ(stat(dir.Path(row.where).c_str(), &now), 0);
    EXPECT_EQ(dir.Read("1111.txt"), "");
    const mode_t mask = umask(0);
    umask(mask);
    EXPECT_EQ(now.st_mode & 07777, row.log != nullptr ? 0640 : 0666 & ~mask);
    int runs = 0;
    for (const auto& entry : fs::recursive_directory_iterator(dir.root())) {
      runs += entry.path().filename().string().starts_with("1111.txt.run-");
    }
    EXPECT_EQ(runs, (row.kept_as != nullptr) + (row.taken != nullptr));
    EXPECT_TRUE(row.taken == nullptr || dir.Read("1111.txt.run-20251208T130502Z") == row.taken);
    if (row.kept_as == nullptr) continue;
    EXPECT_EQ(dir.Read(row.kept_as), row.log);
    ASSERT_EQ(stat(dir.Path(row.kept_as).c_str(), &run), 0);
    EXPECT_EQ(run.st_ino, old.st_ino) << "the run was copied, not kept";
  }
  setenv("TZ", "UTC", 1);
  tzset();
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
