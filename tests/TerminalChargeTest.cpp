// SPDX-License-Identifier: Apache-2.0
// Charging and display: the balance test, the card and log an accepted tag leaves, and what a
// failed write leaves behind.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <functional>

#include <gtest/gtest.h>

#include "BookFiles.h"
#include "FakeClock.h"
#include "Tariff.h"
#include "Terminal.h"
#include "TerminalTag.h"
#include "WhatTerm.h"

namespace {

TEST(TerminalCharge, BalanceAgainstTheCharge) {
  struct Row {
    const char* name;
    Card card;
    std::int32_t here;
    std::string out;
    bool charged;
  } rows[] = {
      {"exact balance pays", TestCard('O', 'S', 'F', 1111, 1050), 2222, ChargedBlock(1050, 0),
       true},
      {"one won short", TestCard('O', 'S', 'F', 1111, 1049), 2222, RefusedBlock(1050, 1049), false},
      {"ordinary get-on from 5000", TestCard('O', 'S', 'F', 1111, 5000), 2222,
       ChargedBlock(1050, 3950), true},
      {"short for an unfinished subway ride: no completion line",
       TestCard('I', 'S', 'T', 1111, 1649), 2222, RefusedBlock(1650, 1649), false},
      {"unfinished subway ride paid exactly", TestCard('I', 'S', 'T', 1111, 1650), 2222,
       ChargedBlock(1650, 0) + "BalanceCheck Complete.\n", true},
      {"negative hand-edited balance", TestCard('O', 'S', 'F', 1111, -5), 2222,
       RefusedBlock(1050, -5), false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    DataDir dir;
    const TagResult result = Tag(dir, row.card, row.here, 20, 1);
    EXPECT_EQ(result.out, row.out);
    if (row.charged) {
      EXPECT_NE(result.card, FormatCardLine(row.card));
      EXPECT_NE(result.log, "<missing>");
    } else {
      EXPECT_EQ(result.card, FormatCardLine(row.card));
      EXPECT_EQ(result.log, "<missing>");
    }
  }
}

TEST(TerminalCharge, ZeroChargeIsStillATag) {
  DataDir dir;
  const TagResult result = Tag(dir, TestCard('I', 'S', 'F', 1111, 500), 2222, 60, 2);
  EXPECT_EQ(result.out, ChargedBlock(0, 500));
  EXPECT_EQ(result.card, "42 S O 0 0 0 2222 F 500 1050 Z 1401959280 20146598");
  EXPECT_EQ(result.log, "2222 0 0 0 42 F 1050 Z O 1401959280 20146598\n");
}

TEST(TerminalCharge, TheRoadOfOneTag) {
  // An ordinary get-on at subway station 1, then a get-off two stations on at station 3.
  DataDir dir;
  Card card = TestCard('O', 'S', 'F', 1111, 20000);
  card.prevFare = 0;
  card.prevVehicle = 'S';
  const TagResult on = Tag(dir, card, 1111, 600, 1);
  EXPECT_EQ(on.out, ChargedBlock(1050, 18950));
  EXPECT_EQ(on.card, "42 S I 1050 0 0 1111 F 18950 1050 S 1401959820 201465917");
  WhatTerm = 3333;
  SetCurrentTime(1401960000);
  HeldBooks books = LockBooks(kCardBooks);
  testing::internal::CaptureStdout();
  OffSensorHandler(books);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), ChargedBlock(200, 18750));
  EXPECT_EQ(dir.Read("usercard.txt"), "42 S O 0 200 0 3333 F 18750 1250 S 1401960000 201465920");
  EXPECT_EQ(dir.Read("3333.txt"), "3333 0 0 200 42 F 1250 S O 1401960000 201465920\n");
}

TEST(TerminalCharge, LogLineOfAnOrdinaryGetOff) {
  DataDir dir;
  Card card = TestCard('I', 'S', 'F', 1111);
  card.cardId = 1234;
  card.prevVehicle = 'S';
  const TagResult result = TagAt(dir, card, 3333, 1400000000, 2);  // 2014-05-13 16:53 UTC
  EXPECT_EQ(result.log, "3333 0 0 200 1234 F 1250 S O 1400000000 20145131653\n");
}

TEST(TerminalCharge, GetOnStampsTheCardWithASecondClockReading) {
  DataDir dir;
  Card card = TestCard('O', 'S', 'F', 1111);
  HeldBooks books = LockBooks(kCardBooks);
  ASSERT_TRUE(CardWriter(books, card));
  SetCurrentTime(kCardTime + 99);
  ASSERT_TRUE(InputDistributor2(books, card, kWriteMode));
  EXPECT_EQ(ParseCardLine(dir.Read("usercard.txt"))->tagTime, kCardTime + 99);
  card.tagTime = 5;  // a get-off's card is written exactly as given, even far in the past
  ASSERT_TRUE(InputDistributor1(books, card, kWriteMode));
  EXPECT_EQ(ParseCardLine(dir.Read("usercard.txt"))->tagTime, 5);
}

TEST(TerminalCharge, DisplayPrintsNothingForAnUnknownStatus) {
  DisplayInfo info{"Tagging is processed competely.\n", 1050, 5000};
  testing::internal::CaptureStdout();
  DisplayInterface(1, info);
  DisplayInterface(-2, info);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

TEST(TerminalChargeDeathTest, UnknownModesAndMissingCardsEndTheProcess) {
  DataDir dir;
  const Card card = TestCard('O', 'S', 'F', 1111);
  HeldBooks books = LockBooks(kCardBooks);
  ASSERT_TRUE(CardWriter(books, card));
  for (int mode : {0, 3, -1}) {
    EXPECT_EXIT((dup2(2, 1), InputDistributor1(books, card, mode)), testing::ExitedWithCode(0),
                "^Wrong Input Error!\n$");
    EXPECT_EXIT((dup2(2, 1), InputDistributor2(books, card, mode)), testing::ExitedWithCode(0),
                "^Wrong Input Error!\n$");
  }
  EXPECT_EQ(dir.Read("usercard.txt"), FormatCardLine(card));
  std::filesystem::remove(dir.Path("usercard.txt"));
  EXPECT_EXIT((dup2(2, 1), OnSensorHandler(books)), testing::ExitedWithCode(0),
              "^File Read Error.\n$");
  EXPECT_EXIT((dup2(2, 1), OffSensorHandler(books)), testing::ExitedWithCode(0),
              "^File Read Error.\n$");
}

// Runs one get-off in a child process whose files may not grow beyond |file_limit| bytes, so
// the write that crosses it fails as on a full disk. Returns what the tag printed.
std::string GetOffWithFileLimit(rlim_t file_limit) {
  int out[2];
  if (pipe(out) != 0) return "pipe failed";
  const pid_t child = fork();
  if (child == 0) {
    dup2(out[1], 1);
    signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{file_limit, file_limit};
    setrlimit(RLIMIT_FSIZE, &limit);
    WhatTerm = 3333;
    SetCurrentTime(kCardTime + 30);
    HeldBooks books = LockBooks(kCardBooks);
    OffSensorHandler(books);
    std::fflush(stdout);
    _exit(0);
  }
  close(out[1]);
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  std::string printed;
  char buffer[4096];
  for (ssize_t n; (n = read(out[0], buffer, sizeof buffer)) > 0;) {
    printed.append(buffer, static_cast<std::size_t>(n));
  }
  close(out[0]);
  return printed;
}

TEST(TerminalCharge, FailedWritesAreNotReportedAsDoneAndLeaveCardAndLogAgreeing) {
  const Card card = TestCard('I', 'S', 'F', 1111);
  const std::string card_line = FormatCardLine(card);
  const std::string earlier_lines(300, 'x');  // stands for earlier log lines
  {
    SCOPED_TRACE("the commit record cannot be written");
    DataDir dir;
    {
      HeldBooks books = LockBooks(kCardBooks);
      ASSERT_TRUE(CardWriter(books, card));
    }
    dir.Write("3333.txt", "");
    EXPECT_EQ(GetOffWithFileLimit(10), "File Write Error.\n");
    EXPECT_EQ(dir.Read("usercard.txt"), card_line);
    EXPECT_EQ(dir.Read("3333.txt"), "");
  }
  {
    SCOPED_TRACE("the log line cannot be appended after the card was written");
    DataDir dir;
    {
      HeldBooks books = LockBooks(kCardBooks);
      ASSERT_TRUE(CardWriter(books, card));
    }
    dir.Write("3333.txt", earlier_lines);
    EXPECT_EQ(GetOffWithFileLimit(250), "File Write Error.\n");  // room for record and card
    EXPECT_EQ(dir.Read("usercard.txt"), card_line);
    EXPECT_EQ(dir.Read("3333.txt"), earlier_lines);
  }
  {
    SCOPED_TRACE("the log cannot be opened");
    DataDir dir;
    {
      HeldBooks books = LockBooks(kCardBooks);
      ASSERT_TRUE(CardWriter(books, card));
    }
    std::filesystem::create_directory(dir.Path("3333.txt"));
    EXPECT_EQ(GetOffWithFileLimit(RLIM_INFINITY), "File Write Error.\n");
    EXPECT_EQ(dir.Read("usercard.txt"), card_line);
  }
}

}  // namespace
