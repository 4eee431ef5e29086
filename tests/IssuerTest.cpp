// SPDX-License-Identifier: Apache-2.0
// The issuer as a real program: prompts, bounds, rejected answers, the card it writes.
#include <filesystem>

#include <gtest/gtest.h>

#include "ConsoleTexts.h"
#include "DataDir.h"
#include "Process.h"

namespace {

constexpr std::int64_t kExampleTime = 1401959220;  // 2014-06-05 09:07:00 UTC

struct Issue {
  DataDir dir;
  ClockFile clock{dir.Path("clock")};

  Issue() { clock.Set(kExampleTime); }
  RunResult Run(const std::string& input) {
    return RunProgram(ISSUER_BIN, input, {dir.workdir(), &clock, {}});
  }
};

TEST(Issuer, IssuesTheExampleCard) {
  Issue issue;
  const RunResult run = issue.Run("42\n20000\n");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, std::string(kIdPrompt) + kBalancePrompt + "Create Card Complete!\n");
  EXPECT_EQ(issue.dir.Read("usercard.txt"), "42 S O 0 0 0 1111 F 20000 0 S 1401959220 20146597");
}

TEST(Issuer, AcceptsBothAnswersOnOneLine) {
  Issue issue;
  const RunResult run = issue.Run("0042 20000\n");
  EXPECT_EQ(run.out, std::string(kIdPrompt) + kBalancePrompt + "Create Card Complete!\n");
  EXPECT_EQ(issue.dir.Read("usercard.txt"), "42 S O 0 0 0 1111 F 20000 0 S 1401959220 20146597");
}

TEST(Issuer, BoundsAreInclusive) {
  struct Row {
    const char* input;
    const char* line;
  } rows[] = {
      {"0 0\n", "0 S O 0 0 0 1111 F 0 0 S 1401959220 20146597"},
      {"9999 10000000\n", "9999 S O 0 0 0 1111 F 10000000 0 S 1401959220 20146597"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.input);
    Issue issue;
    const RunResult run = issue.Run(row.input);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(issue.dir.Read("usercard.txt"), row.line);
  }
}

TEST(Issuer, RejectedAnswersLeaveTheCardFileAsItWas) {
  const std::string id_only = std::string(kIdPrompt) + "Input Error!\n";
  const std::string both = std::string(kIdPrompt) + kBalancePrompt + "Input Error!\n";
  struct Row {
    std::string input;
    std::string out;
  } rows[] = {
      {"10000\n", id_only},
      {"-1\n", id_only},
      {"abc\n", id_only},
      {"", id_only},  // end of input at the first prompt
      {"12abc\n", id_only},
      {"4294967338\n", id_only},  // 42 beyond 32 bits must not wrap to 42
      {std::string(1 << 20, '7') + "\n", id_only},
      {"\x01\x02\xff\n", id_only},
      {"42\n10000001\n", both},
      {"42\n-1\n", both},
      {"42\n", both},  // end of input at the second prompt
      {"42\nlots\n", both},
      {"42\n4294987296\n", both},  // 20000 beyond 32 bits
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.input.substr(0, 30));
    Issue issue;
    issue.dir.Write("usercard.txt", "old card bytes");
    const RunResult run = issue.Run(row.input);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, row.out);
    EXPECT_EQ(issue.dir.Read("usercard.txt"), "old card bytes");
  }
}

TEST(Issuer, LeavesTheFilesBesideTheCardAlone) {
  Issue issue;
  const char* kept[] = {"usercard.txt.backup", "usercard.txt.2015-6", ".usercard.txt.swp",
                        "usercard.txt.old", "usercard.txt.k1LLed"};
  for (const char* name : kept) issue.dir.Write(name, name);
  ASSERT_EQ(issue.Run("42 20000\n").status, 0);
  for (const char* name : kept) EXPECT_EQ(issue.dir.Read(name), name);
}

TEST(Issuer, SecondIssueReplacesTheFirstCardWhole) {
  Issue issue;
  ASSERT_EQ(issue.Run("1234 10000000\n").status, 0);
  issue.clock.Set(kExampleTime + 60);
  ASSERT_EQ(issue.Run("7 5\n").status, 0);
  EXPECT_EQ(issue.dir.Read("usercard.txt"), "7 S O 0 0 0 1111 F 5 0 S 1401959280 20146598");
}

TEST(Issuer, CardThatCannotBeWrittenIsNotReportedAsCreated) {
  Issue issue;
  std::filesystem::create_directory(issue.dir.Path("usercard.txt"));
  const RunResult run = issue.Run("42 20000\n");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, std::string(kIdPrompt) + kBalancePrompt + "File Write Error.\n");
  EXPECT_NE(run.err.find("usercard.txt"), std::string::npos) << run.err;
  EXPECT_TRUE(std::filesystem::is_directory(issue.dir.Path("usercard.txt")));
}

}  // namespace
