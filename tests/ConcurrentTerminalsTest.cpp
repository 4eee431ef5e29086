// SPDX-License-Identifier: Apache-2.0
// Programs side by side on the one card: six terminals tagging as fast as they are fed, then the
// settlement of their logs; two terminals at one station; a card lock nobody can take; and a
// card written from outside the terminals, which is the card the next tag is decided on.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <functional>
#include <memory>

#include <gtest/gtest.h>

#include "Harness.h"

namespace {

using namespace std::chrono_literals;

TEST(ConcurrentTerminals, SixTerminalsOnOneCardKeepTheBooksAndSettle) {
  Station setup;
  setup.dir.Write("usercard.txt", kOpeningCard);
  setup.dir.Write("SubwayCompany.txt", "Date : 2014-12-5 18:0\nSubway Income : 1250 Won\n");
  std::vector<std::unique_ptr<Process>> terminals;
  std::string script;
  for (int i = 0; i < 250; ++i) script += "1\n2\n";  // more than any gets through before the end
  for (int choice = 1; choice <= 6; ++choice) {
    terminals.push_back(std::make_unique<Process>(TERMINAL_BIN, setup.Options()));
    terminals.back()->Write(std::to_string(choice) + "\n" + script);
  }
  for (auto& terminal : terminals) ASSERT_TRUE(terminal->WaitForCount(kChargedLine, 80, 60s));
  setup.clock.Set(kStart + kServicePeriod);
  std::int64_t logged = 0;
  std::string logs;
  for (int choice = 1; choice <= 6; ++choice) {
    Process& terminal = *terminals[static_cast<std::size_t>(choice - 1)];
    EXPECT_EQ(terminal.Wait(), 0);
    EXPECT_TRUE(terminal.out().ends_with(kPeriodOver) && terminal.err().empty());
    // The period ended between tags: every tag shown is logged, and no other.
    const LogCheck log = CheckLog(setup.dir.Read(LogNameOf(choice)), choice * 1111, kCardId);
    const Shown shown = ShownCharges(terminal.out());
    EXPECT_EQ(log.fault, "");
    EXPECT_EQ(log.lines, shown.tags);
    EXPECT_EQ(log.charges, shown.charges);
    EXPECT_EQ(CountOf(terminal.out(), "Error"), 0u);
    logged += log.charges;
    logs += setup.dir.Read(LogNameOf(choice));
  }
  EXPECT_EQ(kOpening - WholeCard(setup.dir.Read("usercard.txt"))->balance, logged);
  // The settlement reads them all, changes none, and adds its lines after the earlier ones.
  const RunResult settle = RunProgram(SETTLE_BIN, "", setup.Options());
  long long overall = 0, subway = 0, bus = 0;
  EXPECT_EQ(std::sscanf(settle.out.c_str(),
                        "----------------------------\nDate : 2014-12-6 7:8\nOverall Fee : %lld "
                        "Won\nSubway Fee : %lld Won\nBus Fee : %lld Won\n",
                        &overall, &subway, &bus),
            3)
      << settle.out << settle.err;
  EXPECT_EQ(overall, subway + bus);
  EXPECT_NE(overall, 0);
  EXPECT_EQ(setup.dir.Read("BusCompany.txt"),
            "Date : 2014-12-6 7:8\nBus Income : " + std::to_string(bus) + " Won\n");
  EXPECT_TRUE(
      setup.dir.Read("SubwayCompany.txt")
          .ends_with("Date : 2014-12-6 7:8\nSubway Income : " + std::to_string(subway) + " Won\n"));
  std::string after;
  for (int choice = 1; choice <= 6; ++choice) after += setup.dir.Read(LogNameOf(choice));
  EXPECT_EQ(after, logs);
}

TEST(ConcurrentTerminals, SecondStartAtARunningStationIsRefused) {
  Station setup;
  Process running(TERMINAL_BIN, setup.Options());
  running.Write("2\n1\n2\n");
  ASSERT_TRUE(running.WaitForCount("Your balance", 2));
  const RunResult second = RunProgram(TERMINAL_BIN, "2\n1\n", setup.Options());
  EXPECT_EQ(second.out + second.err, std::string(kSelection) + "Terminal Already Running.\n");
  running.Write("1\n");  // the running one tags on, its log whole
  ASSERT_TRUE(running.WaitForCount("Your balance", 3));
  EXPECT_EQ(CheckLog(setup.dir.Read("2222.txt"), 2222, kCardId).lines, 3u);
  const pid_t menu = FirstChildOf(running.pid());
  kill(-running.pid(), SIGKILL);
  ASSERT_TRUE(WaitUntil([&] { return !IsRunning(menu); }));
  Process again(TERMINAL_BIN, setup.Options());  // once it is dead, its station starts at once
  again.Write("2\n");
  EXPECT_TRUE(again.WaitForOutput(kMenu)) << again.out();
}

// No lock, no charge: with a directory in the lock's place, or a lock held for ever (waited for
// within its bound, the holder named), a tag, a start, issuer and settle each give their failure
// line and the reason, and the books stay as they were.
TEST(ConcurrentTerminals, CardLockThatCannotBeTakenChargesNothing) {
  const std::string holder = "held by process " + std::to_string(getpid()) + "; ";
  const struct {
    std::function<int(const DataDir&)> block;
    std::vector<std::string> reasons;  // each on a line "program: ../../usercard.lock: reason"
  } rows[] = {
      {[](const DataDir& dir) {
         std::filesystem::rename(dir.Path("usercard.lock"), dir.Path("moved.lock"));
         std::filesystem::create_directory(dir.Path("usercard.lock"));
         return -1;
       },
       {"Is a directory"}},
      {[](const DataDir& dir) {
         const int held = open(dir.Path("usercard.lock").c_str(), O_RDONLY | O_CLOEXEC);
         flock(held, LOCK_EX);
         return held;
       },
       {holder + "waiting up to 10 s", holder + "given up after 10 s"}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.reasons[0]);
    const auto detail = [&](const std::string& program) {
      std::string text;
      for (const std::string& reason : row.reasons)
        text += program + ": ../../usercard.lock: " + reason + "\n";
      return text;
    };
    Station setup;
    Process tagging(TERMINAL_BIN, setup.Options());
    tagging.Write("1\n");
    ASSERT_TRUE(tagging.WaitForOutput(kMenu));
    const int held = row.block(setup.dir);
    tagging.Write("1\n");  // all at once, so that a lock held for ever costs its bound once
    Process start(TERMINAL_BIN, setup.Options()), issuer(ISSUER_BIN, setup.Options()),
        settle(SETTLE_BIN, setup.Options());
    start.Write("6\n");
    issuer.Write("7 5000\n");
    ASSERT_TRUE(tagging.WaitForOutput("File Write Error.\n"));
    EXPECT_EQ(tagging.err(), detail("terminal"));
    EXPECT_EQ((std::vector{start.Wait(), issuer.Wait(), settle.Wait()}), (std::vector{0, 0, 0}));
    EXPECT_EQ(start.out() + start.err(),
              std::string(kSelection) + "File Write Error.\n" + detail("terminal"));
    EXPECT_TRUE(issuer.out().ends_with("File Write Error.\n") && issuer.err() == detail("issuer"));
    EXPECT_EQ(settle.out() + settle.err(), "Cannot find DB!\n" + detail("settle"));
    if (held >= 0) close(held);
    EXPECT_EQ(setup.dir.Read("usercard.txt") + setup.dir.Read("1111.txt"), kCardLine);
    EXPECT_FALSE(setup.dir.Exists("6666.txt"));
  }
}

// A card someone else writes (an operator's top-up, an editor, issuer) is the card: the next tag
// is decided on it, whether the terminal that tagged before runs on, was killed or ended.
TEST(ConcurrentTerminals, CardWrittenFromOutsideIsTheCard) {
  const auto card = [](const char* balance) {  // the card after a get-on at station 1
    return std::string("42 S I 1050 0 0 1111 F ") + balance + " 1050 S 1417849509 201412675";
  };
  const auto block = [](const char* message, int fee, int balance) {
    return "------------------------------\n" + std::string(message) +
           "\n\nTotal fee : " + std::to_string(fee) +
           ".\nYour balance : " + std::to_string(balance) + ".\n";
  };
  const struct {
    const char* name;
    int stop;             // how the first terminal ends before the card is written; 0: it runs on
    std::string written;  // the card written from outside; empty: issuer "7 5000"
    const char* next;     // then, at the first terminal or at station 3: the tag typed
    std::string shown, card_after;
  } rows[] = {
      // clang-format off
      {"edited between two tags, the balance short", 0, card("1249"), "1\n",
       block("Not enough balance..", 1250, 1249), card("1249")},
      {"issued beside a running terminal", 0, "", "1\n", block(kChargedLine, 1050, 3950),
       "7 S I 1050 0 0 1111 F 3950 1050 S "},
      {"topped up by hand after a kill", SIGKILL, card("1018950"), "3\n2\n",
       block(kChargedLine, 200, 1018750), "42 S O 0 200 0 3333 F 1018750 1250 S "},
      {"topped up by hand between two terminals", SIGTERM, card("1018950"), "3\n2\n",
       block(kChargedLine, 200, 1018750), "42 S O 0 200 0 3333 F 1018750 1250 S "},
      // clang-format on
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    Station setup;
    auto first = std::make_unique<Process>(TERMINAL_BIN, setup.Options());
    first->Write("1\n1\n");
    ASSERT_TRUE(first->WaitForOutput("Your balance : 18950.") && first->WaitForCount(kMenu, 2));
    if (row.stop != 0) {
      kill(-first->pid(), row.stop);
      first->Wait();
    }
    if (row.written.empty()) {
      EXPECT_TRUE(RunProgram(ISSUER_BIN, "7 5000\n", setup.Options()).out.ends_with("Complete!\n"));
    } else {
      setup.dir.Write("usercard.txt", row.written);
    }
    auto next =
        row.stop != 0 ? std::make_unique<Process>(TERMINAL_BIN, setup.Options()) : std::move(first);
    const std::size_t from = next->out().size();
    next->Write(row.next);
    ASSERT_TRUE(next->WaitForOutput(row.shown, from)) << next->out();
    EXPECT_TRUE(setup.dir.Read("usercard.txt").starts_with(row.card_after));
    kill(-next->pid(), SIGTERM);
    EXPECT_EQ(next->Wait(), 0);
    EXPECT_EQ(next->err(), "");
  }
}

}  // namespace
