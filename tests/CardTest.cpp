// SPDX-License-Identifier: Apache-2.0
// The card: its file, its lock, and every tag that changes it, each run in this process.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <filesystem>
#include <sstream>
#include <tuple>

#include <gtest/gtest.h>

#include "BookFiles.h"
#include "DataFiles.h"
#include "FileChanges.h"
#include "Harness.h"
#include "Tariff.h"
#include "Terminal.h"
#include "WhatTerm.h"

namespace {

namespace fs = std::filesystem;

// The tags' card: no rule writes its previous fare 777 or previous vehicle 'Z'.
constexpr std::int64_t kCardTime = 1401959220;  // 2014-06-05 09:07:00 UTC

Card TestCard(char in_out, char vehicle, char transfer, std::int32_t term) {
  return {42, kCardTime, vehicle, in_out, {1050, 0, 0, in_out}, term, transfer, 10000, 777, 'Z'};
}

// Through a link to a file of mode 0640 beside a killed program's longer leftover, cards in turn;
// a get-on's with a second reading of the clock. A card damaged or missing ends the process.
TEST(CardFile, IsWrittenWholeThroughItsLinkKeepingItsModeAndADamagedOneEndsTheTag) {
  GTEST_FLAG_SET(death_test_style, "fast");  // a child uses this test's directory, then removed
  const char* kReadError = "^File Read Error.\n$";
  // clang-format off
  const std::pair<Card, const char*> cards[] = {
      {{9999, 1400000000, 'B', 'I', {1050, 700, -1, 'I'}, 6666, 'T', -5, 1250, 'B'}, "9999 B I 1050 -1 700 6666 T -5 1250 B 1400000000 20145131653"},
      {{.tagTime = 1388534400, .fee = {}}, "0 S O 0 0 0 1111 F 0 0 S 1388534400 20141100"}};
  // clang-format on
  DataDir dir;
  HeldBooks books = LockBooks(kCardBooks);
  fs::create_directory(dir.Path("cards"));
  dir.Write("cards/mine.txt", "old");
  dir.Write("cards/mine.txt.farecard-new", std::string(300, 'x'));
  fs::permissions(dir.Path("cards/mine.txt"), fs::perms(0640));
  fs::create_symlink("cards/mine.txt", dir.Path("usercard.txt"));
  for (const auto& [card, line] : cards) {
    ASSERT_TRUE(CardWriter(books, card));
    EXPECT_EQ(dir.Read("usercard.txt"), line);
    EXPECT_EQ(FormatCardLine(CardRead()), line);
  }
  EXPECT_TRUE(fs::is_symlink(dir.Path("usercard.txt")));
  EXPECT_EQ(fs::status(dir.Path("cards/mine.txt")).permissions(), fs::perms(0640));
  EXPECT_FALSE(dir.Exists("cards/mine.txt.farecard-new"));
  const Card card = TestCard('O', 'S', 'F', 1111);
  SetCurrentTime(kCardTime + 99);
  ASSERT_TRUE(InputDistributor2(books, card, kWriteMode));
  EXPECT_EQ(ParseCardLine(dir.Read("usercard.txt"))->tagTime, kCardTime + 99);
  for (const char* damaged : {"", "4 S O 0 0 0 1 F 2 0 S", "4 SS O 0 0 0 1 F 2 0 S 1",
                              "2147483648 S O 0 0 0 1 F 2 0 S 1", "4 S O 0 0 0 1 F 2 0 S 1e3"}) {
    dir.Write("usercard.txt", damaged);
    EXPECT_EXIT((dup2(2, 1), OnSensorHandler(books)), testing::ExitedWithCode(0), kReadError);
  }
  fs::remove(dir.Path("usercard.txt"));
  EXPECT_EXIT((dup2(2, 1), OffSensorHandler(books)), testing::ExitedWithCode(0), kReadError);
}

std::string Block(const std::string& message, std::int32_t fee, std::int32_t balance) {
  return "------------------------------\n" + message + "\n\nTotal fee : " + std::to_string(fee) +
         ".\nYour balance : " + std::to_string(balance) + ".\n------------------------------\n";
}

std::string LogLineOf(const std::string& card_line) {  // its values in the order of a log line
  std::istringstream in(card_line);
  std::string v[13], line;
  for (std::string& value : v) in >> value;
  for (int i : {6, 3, 5, 4, 0, 7, 9, 10, 2, 11}) line += v[i] + ' ';
  return line + v[12] + '\n';
}

// A card (direction, vehicle, transfer flag, terminal[, balance[, time]]) tagged at a terminal,
// some seconds after kCardTime, to get on (1) or off (2), leaves its values but the time; or ""
// (the tag ends unseen), "short FEE" (refused), "!journal" or "!log" (that write fails): nothing.
using Tag = std::tuple<const char*, std::int32_t, std::int64_t, int, std::string>;

void CheckTag(const Tag& tag) {
  const auto& [before, here, seconds, choice, after] = tag;
  SCOPED_TRACE(testing::Message() << before << " -> " << here << " +" << seconds << " s");
  DataDir dir;
  Card card = TestCard(0, 0, 0, 0);
  std::istringstream(before) >> card.inOut >> card.vehicle >> card.transfer >> card.termId >>
      card.balance >> card.tagTime;
  HeldBooks books = LockBooks(kCardBooks);
  ASSERT_TRUE(CardWriter(books, card));
  const std::string log = LogFileName(here);
  if (after == "!log") fs::create_directory(dir.Path(log));
  FailChangesFrom(after == "!journal" ? 1 : 0, ENOSPC);
  WhatTerm = here;
  SetCurrentTime(kCardTime + seconds);
  testing::internal::CaptureStdout();
  choice == 1 ? OnSensorHandler(books) : OffSensorHandler(books);
  FailChangesFrom(0, 0);
  const auto charged = ParseCardLine(after + " " + std::to_string(kCardTime + seconds));
  const std::string line = FormatCardLine(charged.value_or(card));
  const std::int32_t left = charged ? charged->balance : card.balance;
  std::string shown = after[0] == '!' ? "File Write Error.\n" : "";
  if (after.starts_with("short")) shown = Block("Not enough balance..", std::stoi(&after[6]), left);
  if (charged) shown = Block("Tagging is processed competely.", card.balance - left, left);
  // A get-on that charges a subway ride never tagged off says so.
  if (charged && choice == 1 && before[0] == 'I' && before[2] == 'S')
    shown += "BalanceCheck Complete.\n";
  EXPECT_EQ(testing::internal::GetCapturedStdout(), shown);
  EXPECT_EQ(dir.Read("usercard.txt"), line);
  EXPECT_EQ(dir.Read(log), charged ? LogLineOf(line) : after == "!log" ? "" : "<missing>");
}

TEST(TerminalTag, RoutesFaresAndCharges) {
  // clang-format off
  const Tag tags[] = {
      {"I B T 6666", 1111, 100, 1, "42 S I 1050 0 700 1111 F 8250 777 B"},
      {"I B F 6666", 1111, 100, 1, "42 S I 1050 0 0 1111 F 8950 1050 B"},
      {"I S T 2222", 6666, 100, 1, "42 B I 1050 0 600 6666 F 8350 777 S"},
      {"I S F 2222", 3333, 100, 1, "42 S I 1050 0 200 3333 F 8750 777 S"},
      {"O S F 2222", 4444, 5, 1, "42 S I 1050 0 0 4444 F 8950 1050 S"},
      {"O S F 1111", 6666, 15, 1, "42 B I 0 0 0 6666 T 10000 777 Z"},
      {"O S F 1111", 6666, 16, 1, "42 B I 1050 0 0 6666 F 8950 1050 S"},
      {"O B T 6666", 2222, -100, 1, "42 S I 0 0 0 2222 T 10000 777 Z"},
      {"I S T 1111", 6666, 29, 2, "42 B O 0 0 0 6666 T 10000 777 B"},
      {"I S T 1111", 6666, 30, 2, "42 B O 0 100 0 6666 T 9900 777 B"},
      {"I S T 1111", 6666, 209, 2, "42 B O 0 600 0 6666 T 9400 777 B"},
      {"I S T 1111", 6666, 210, 2, "42 B O 0 700 0 6666 T 9300 777 B"},
      {"I B T 1111", 2222, 40, 2, "42 S O 0 300 0 2222 T 9700 777 S"},
      {"I B T 2222", 1111, 40, 2, "42 S O 0 600 0 1111 T 9400 777 S"},
      {"I B T 5555", 1111, 40, 2, "42 S O 0 300 0 1111 T 9700 777 S"},
      {"O S T 3333", 3333, 40, 2, "42 S O 0 0 0 3333 T 10000 777 S"},
      {"I B T 6666", 1111, 40, 2, "42 S O 0 600 0 1111 T 9400 777 S"},
      {"O S F 1111", 3333, 40, 2, "42 S O 0 200 0 3333 F 9800 1250 Z"},
      {"I S F 4444", 5555, 40, 2, "42 S O 0 0 0 5555 F 10000 1050 Z"},
      {"I S F 1111", 6666, 100000, 2, "42 B O 0 0 0 6666 F 10000 1050 Z"},
      // Far in the past is long ago, never wrapped around; then what charges nothing.
      {"O B F 6666 10000 -9223372036854775808", 1111, 0, 1, "42 S I 1050 0 0 1111 F 8950 1050 B"},
      {"I S T 1111 10000 -9223372036854775808", 6666, 0, 2, "42 B O 0 700 0 6666 T 9300 777 B"},
      {"X S F 1111", 3333, 10, 1, ""},
      {"I X F 1111", 3333, 10, 1, ""},
      {"I S x 1111", 3333, 10, 2, ""},
      {"O S F 1111 1050", 2222, 20, 1, "42 S I 1050 0 0 2222 F 0 1050 S"},
      {"O S F 1111 1049", 2222, 20, 1, "short 1050"},
      {"I S T 1111 1649", 2222, 20, 1, "short 1650"},
      {"I S F 1111", 3333, 30, 2, "!journal"},
      {"I S F 1111", 3333, 30, 2, "!log"}};
  // clang-format on
  for (const Tag& t : tags) CheckTag(t);
}

// A wait for a lock another process holds borrows the real-time timer and SIGALRM, and gives
// both back: a timer still armed, less the second or more the wait took, its handler its own.
TEST(CardFile, LockWaitGivesTheTimerAndTheAlarmBack) {
  DataDir dir;
  const std::string path = DataPath("usercard.lock");
  void (*const alarm)(int) = [](int) {};
  std::signal(SIGALRM, alarm);
  itimerval timer{{0, 0}, {60, 0}}, off{};
  setitimer(ITIMER_REAL, &timer, nullptr);  // first: the holder's second passes after it
  const int held = open(path.c_str(), O_RDWR | O_CREAT, 0644);
  ASSERT_EQ(flock(held, LOCK_EX), 0);
  // The child holds the lock longer than a tick of the wait, so that the wait uses its timer.
  if (fork() == 0) _exit(static_cast<int>(sleep(1)));
  close(held);
  testing::internal::CaptureStderr();
  const int lock = LockFile(path);
  testing::internal::GetCapturedStderr();
  setitimer(ITIMER_REAL, &off, &timer);
  struct sigaction handler {};
  sigaction(SIGALRM, nullptr, &handler);
  EXPECT_TRUE(lock >= 0 && timer.it_value.tv_sec > 0 && timer.it_value.tv_sec < 59)
      << lock << ", " << timer.it_value.tv_sec << " s left of the timer's 60";
  EXPECT_EQ(handler.sa_handler, alarm);
  UnlockFile(lock);
  wait(nullptr);
}

}  // namespace
