// SPDX-License-Identifier: Apache-2.0
// The data-file helpers: appends, emptying, and the lock that serialises processes.
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>

#include <gtest/gtest.h>

#include "DataDir.h"
#include "DataFiles.h"

namespace {

TEST(DataFiles, PathsLeadTwoLevelsUp) {
  DataDir dir;
  ASSERT_TRUE(ReplaceFile(DataPath("x.txt"), "abc", false));
  EXPECT_EQ(dir.Read("x.txt"), "abc");
}

TEST(DataFiles, AppendAddsWholeLinesAndEmptyClears) {
  DataDir dir;
  const std::string path = DataPath("1111.txt");
  for (const char* line : {"first\n", "second\n"}) {
    const int fd = OpenForAppend(path);
    ASSERT_GE(fd, 0);
    EXPECT_TRUE(AppendDurably(fd, line, path));
    CloseFile(fd);
  }
  EXPECT_EQ(dir.Read("1111.txt"), "first\nsecond\n");
  EXPECT_TRUE(ReplaceFile(path, "", true));
  EXPECT_EQ(dir.Read("1111.txt"), "");
}

TEST(DataFiles, FailuresAreReportedNotHidden) {
  DataDir dir;
  testing::internal::CaptureStderr();
  EXPECT_FALSE(ReplaceFile(DataPath("missing/x.txt"), "abc", true));
  EXPECT_LT(OpenForAppend(DataPath("missing/1111.txt")), 0);
  EXPECT_FALSE(ReplaceFile(DataPath("missing/1111.txt"), "", true));
  const int full = open("/dev/full", O_WRONLY);
  ASSERT_GE(full, 0);
  EXPECT_FALSE(AppendDurably(full, "line\n", "/dev/full"));
  close(full);
  const std::string details = testing::internal::GetCapturedStderr();
  EXPECT_NE(details.find("missing/x.txt"), std::string::npos) << details;
  EXPECT_NE(details.find("/dev/full"), std::string::npos) << details;
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
