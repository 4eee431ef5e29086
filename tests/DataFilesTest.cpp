// SPDX-License-Identifier: Apache-2.0
// The data-file helpers: appends, emptying, and the lock that serialises processes.
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>
#include <sys/stat.h>

#include <filesystem>

#include <gtest/gtest.h>

#include "DataDir.h"
#include "DataFiles.h"

namespace {

TEST(DataFiles, PathsLeadTwoLevelsUp) {
  DataDir dir;
  ASSERT_TRUE(ReplaceFile(DataPath("x.txt"), "abc", false));
  EXPECT_EQ(dir.Read("x.txt"), "abc");
}

// The log's old file becomes the kept run, named after the start in UTC, blocks and all (the
// same inode), and a new empty file with the log's mode takes its place; nothing is kept of an
// empty log, and a name another start of the same second took is passed over, never replaced.
TEST(DataFiles, StartKeepsTheRunBeforeBesideTheLog) {
  namespace fs = std::filesystem;
  constexpr std::int64_t kStartTime = 1765199102;
  const std::string kept = KeptRunName("1111.txt", kStartTime);
  const struct {
    const char* name;
    const char* log;      // nullptr: no log
    const char* taken;    // a kept run already there for this second
    const char* where;    // the file the log names, when it is a link
    const char* kept_as;  // nullptr: nothing kept
  } rows[] = {
      {"lines are kept", "a\nb\n", nullptr, nullptr, "1111.txt.run-20251208T130502Z"},
      {"an empty log keeps nothing", "", nullptr, nullptr, nullptr},
      {"a missing log is made", nullptr, nullptr, nullptr, nullptr},
      {"a second start in the same second", "a\n", "x\n", nullptr,
       "1111.txt.run-20251208T130502Z-02"},
      {"a log that is a link", "a\n", nullptr, "logs/station",
       "logs/1111.txt.run-20251208T130502Z"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    DataDir dir;
    const std::string file = row.where != nullptr ? row.where : "1111.txt";
    fs::create_directory(dir.Path("logs"));
    if (row.where != nullptr) fs::create_symlink(file, dir.Path("1111.txt"));
    if (row.log != nullptr) dir.Write(file, row.log);
    chmod(dir.Path(file).c_str(), 0640);
    if (row.taken != nullptr) dir.Write(kept, row.taken);
    struct stat old {};
    stat(dir.Path(file).c_str(), &old);
    ASSERT_TRUE(KeepRun(DataPath("1111.txt"), kStartTime));
    struct stat now {};
    ASSERT_EQ(stat(dir.Path(file).c_str(), &now), 0);
    EXPECT_EQ(dir.Read("1111.txt"), "");
    const mode_t mask = umask(0);
    umask(mask);
    EXPECT_EQ(now.st_mode & 07777, row.log != nullptr ? 0640 : 0666 & ~mask);
    EXPECT_EQ(fs::is_symlink(dir.Path("1111.txt")), row.where != nullptr);
    if (row.taken != nullptr) {
      EXPECT_EQ(dir.Read(kept), row.taken);
    }
    int runs = 0;
    for (const auto& entry : fs::recursive_directory_iterator(dir.root())) {
      runs += entry.path().filename().string().starts_with("1111.txt.run-") ? 1 : 0;
    }
    EXPECT_EQ(runs, (row.kept_as != nullptr ? 1 : 0) + (row.taken != nullptr ? 1 : 0));
    if (row.kept_as == nullptr) continue;
    EXPECT_EQ(dir.Read(row.kept_as), row.log);
    struct stat run {};
    ASSERT_EQ(stat(dir.Path(row.kept_as).c_str(), &run), 0);
    EXPECT_EQ(run.st_ino, old.st_ino) << "the run was copied, not kept";
  }
}

TEST(DataFiles, FailuresAreReportedNotHidden) {
  DataDir dir;
  testing::internal::CaptureStderr();
  EXPECT_FALSE(ReplaceFile(DataPath("missing/x.txt"), "abc", true));
  EXPECT_FALSE(ReplaceFile(DataPath("missing/1111.txt"), "", true));
  const std::string details = testing::internal::GetCapturedStderr();
  EXPECT_NE(details.find("missing/x.txt"), std::string::npos) << details;
  EXPECT_FALSE(dir.Exists("missing"));
}

TEST(DataFiles, LockExcludesAnotherProcessUntilReleased) {
  DataDir dir;
  const std::string path = DataPath("usercard.lock");
  const int held = LockFile(path);
  ASSERT_GE(held, 0);
  // Another process opens the lock file itself, as every terminal does.
  auto other_can_lock = [&] {
    const pid_t child = fork();
    if (child == 0) {
      const int fd = open(path.c_str(), O_RDWR);
      _exit(flock(fd, LOCK_EX | LOCK_NB) == 0 ? 0 : 1);
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
  };
  EXPECT_FALSE(other_can_lock());
  UnlockFile(held);
  EXPECT_TRUE(other_can_lock());
}

}  // namespace
