// SPDX-License-Identifier: Apache-2.0
// All six terminals at once on the one card, each tagging as fast as it is fed, until their
// service periods run out; then the real settlement over the six logs they leave. And the
// terminals that must not run side by side: two at one station, or any without the card lock.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "ConsoleTexts.h"
#include "DataDir.h"
#include "Ledger.h"
#include "Process.h"
#include "Station.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr int kTerminals = 6;
constexpr std::size_t kPairsFed = 250;  // more than any terminal gets through before the end
constexpr std::size_t kTagsEach = 80;   // every terminal has charged this many before the end
// A log line moves the settled income by at most a base fare and the top fees of two legs, up or
// down (a transfer takes back its first leg's fare).
constexpr std::int64_t kMostIncomePerLine = 1950;
constexpr const char* kEarlierSubwayReport = "Date : 2014-12-5 18:0\nSubway Income : 1250 Won\n";

using Terminals = std::vector<std::unique_ptr<Process>>;

// Reads the output of every terminal in turn until each shows |text| |count| times, so that no
// terminal stalls on a full output pipe while holding the card lock. False after |limit|.
bool PumpUntilAll(Terminals& terminals, std::string_view text, std::size_t count,
                  std::chrono::seconds limit) {
  const auto deadline = Clock::now() + limit;
  while (true) {
    bool all = true;
    for (auto& terminal : terminals) {
      if (!terminal->WaitForCount(text, count, 5ms)) all = false;
    }
    if (all) return true;
    if (Clock::now() >= deadline) return false;
  }
}

// The settlement's summary, read from its console output.
struct Summary {
  std::string date;
  long long overall = 0, subway = 0, bus = 0;
};

bool ReadSummary(const std::string& out, Summary& summary) {
  char date[32] = {};
  int used = 0;
  const int fields = std::sscanf(out.c_str(),
                                 "----------------------------\nDate : %31[^\n]\nOverall Fee : "
                                 "%lld Won\nSubway Fee : %lld Won\nBus Fee : %lld Won\n"
                                 "----------------------------\n%n",
                                 date, &summary.overall, &summary.subway, &summary.bus, &used);
  summary.date = date;
  return fields == 4 && static_cast<std::size_t>(used) == out.size();
}

TEST(ConcurrentTerminals, SixTerminalsOnOneCardKeepTheBooksAndSettle) {
  DataDir dir;
  ClockFile clock(dir.Path("clock"));
  clock.Set(kStart);
  dir.Write("usercard.txt", kOpeningCard);
  dir.Write("SubwayCompany.txt", kEarlierSubwayReport);

  Terminals terminals;
  for (int choice = 1; choice <= kTerminals; ++choice) {
    terminals.push_back(
        std::make_unique<Process>(TERMINAL_BIN, ProcessOptions{dir.workdir(), &clock, {}}));
    terminals.back()->Write(std::to_string(choice) + "\n");
  }
  ASSERT_TRUE(PumpUntilAll(terminals, kMenu, 1, 30s));
  std::string script;
  for (std::size_t i = 0; i < kPairsFed; ++i) script += "1\n2\n";
  for (auto& terminal : terminals) terminal->Write(script);
  ASSERT_TRUE(PumpUntilAll(terminals, "Tagging is processed competely.", kTagsEach, 60s));

  clock.Set(kStart + kServicePeriod);
  ASSERT_TRUE(PumpUntilAll(terminals, kPeriodOver, 1, 30s));
  std::int64_t logged = 0;
  std::size_t lines = 0;
  std::size_t fewest = SIZE_MAX;
  for (int choice = 1; choice <= kTerminals; ++choice) {
    SCOPED_TRACE("terminal " + std::to_string(choice));
    Process& terminal = *terminals[static_cast<std::size_t>(choice - 1)];
    EXPECT_EQ(terminal.Wait(), 0);
    EXPECT_EQ(terminal.err(), "");
    const std::string& out = terminal.out();
    EXPECT_EQ(out.substr(out.size() - std::string(kPeriodOver).size()), kPeriodOver);
    // The period ended between tags: every tag shown is logged, and no other.
    const LogCheck log = CheckLog(dir.Read(LogNameOf(choice)), choice * 1111, kCardId);
    EXPECT_EQ(log.fault, "");
    const Shown shown = ShownCharges(out);
    EXPECT_EQ(log.lines, shown.tags);
    EXPECT_EQ(log.charges, shown.charges);
    EXPECT_GE(log.lines, kTagsEach);
    EXPECT_EQ(CountOf(out, "Error"), 0u);
    logged += log.charges;
    lines += log.lines;
    fewest = std::min(fewest, log.lines);
  }
  std::printf("[ parallel ] %zu tags charged by six terminals at once, the fewest by one %zu\n",
              lines, fewest);
  const std::string card_text = dir.Read("usercard.txt");
  const auto card = WholeCard(card_text);
  ASSERT_TRUE(card) << card_text;
  EXPECT_EQ(std::int64_t{kOpening} - card->balance, logged);
  EXPECT_GT(logged, 0);

  // The settlement over these six logs: it reads them all, changes none, and adds two lines to
  // each report, after whatever an earlier run left there.
  std::string logs_before;
  for (int choice = 1; choice <= kTerminals; ++choice) logs_before += dir.Read(LogNameOf(choice));
  const RunResult settle = RunProgram(SETTLE_BIN, "", {dir.workdir(), &clock, {}});
  EXPECT_EQ(settle.status, 0);
  EXPECT_EQ(settle.err, "");
  EXPECT_EQ(settle.out.find("Cannot find DB!"), std::string::npos) << settle.out;
  Summary summary;
  ASSERT_TRUE(ReadSummary(settle.out, summary)) << settle.out;
  EXPECT_EQ(summary.date, "2014-12-6 7:8");
  EXPECT_EQ(summary.overall, summary.subway + summary.bus);
  EXPECT_NE(summary.overall, 0);
  EXPECT_LE(std::llabs(summary.overall), kMostIncomePerLine * static_cast<std::int64_t>(lines));
  EXPECT_EQ(dir.Read("SubwayCompany.txt"), std::string(kEarlierSubwayReport) +
                                               "Date : 2014-12-6 7:8\nSubway Income : " +
                                               std::to_string(summary.subway) + " Won\n");
  EXPECT_EQ(dir.Read("BusCompany.txt"),
            "Date : 2014-12-6 7:8\nBus Income : " + std::to_string(summary.bus) + " Won\n");
  std::string logs_after;
  for (int choice = 1; choice <= kTerminals; ++choice) logs_after += dir.Read(LogNameOf(choice));
  EXPECT_EQ(logs_after, logs_before);
}

TEST(ConcurrentTerminals, SecondStartAtARunningStationIsRefused) {
  Station setup;
  Process running(TERMINAL_BIN, setup.Options());
  running.Write("2\n1\n2\n");
  ASSERT_TRUE(running.WaitForCount("Your balance", 2));
  const RunResult second = RunProgram(TERMINAL_BIN, "2\n1\n", setup.Options());
  EXPECT_EQ(second.status, 0);
  EXPECT_EQ(second.out + second.err, std::string(kSelection) + "Terminal Already Running.\n");
  // The running terminal tags on, its log whole; once it is dead, its station starts at once.
  running.Write("1\n");
  ASSERT_TRUE(running.WaitForCount("Your balance", 3));
  EXPECT_EQ(CheckLog(setup.dir.Read("2222.txt"), 2222, kCardId).lines, 3u);
  const pid_t menu = FirstChildOf(running.pid());
  kill(-running.pid(), SIGKILL);
  for (int tries = 0; tries < 2000 && IsRunning(menu); ++tries) std::this_thread::sleep_for(10ms);
  Process again(TERMINAL_BIN, setup.Options());
  again.Write("2\n");
  EXPECT_TRUE(again.WaitForOutput(kMenu)) << again.out();
  EXPECT_EQ(setup.dir.Read("2222.txt"), "");
}

// The card lock cannot be had: a directory takes its place, or another process holds it for
// ever. No lock, no charge: a tag, a terminal's start, issuer and settle each answer with their
// own failure line and the reason on standard error, and the books stay as they were. A lock
// held for ever is waited for within its bound, the holder named.
TEST(ConcurrentTerminals, CardLockThatCannotBeTakenChargesNothing) {
  const std::string holder = "held by process " + std::to_string(getpid()) + "; ";
  struct Row {
    const char* name;
    std::function<void(const DataDir&, int& held)> block;
    std::vector<std::string> reasons;  // each on a line "program: ../../usercard.lock: reason"
  };
  const Row rows[] = {
      {"a directory in the lock's place",
       [](const DataDir& dir, int&) {
         std::filesystem::rename(dir.Path("usercard.lock"), dir.Path("moved.lock"));
         std::filesystem::create_directory(dir.Path("usercard.lock"));
       },
       {"Is a directory"}},
      {"a lock another process holds for ever",
       [](const DataDir& dir, int& held) {
         held = open(dir.Path("usercard.lock").c_str(), O_RDONLY | O_CLOEXEC);
         ASSERT_EQ(flock(held, LOCK_EX), 0);
       },
       {holder + "waiting up to 10 s", holder + "given up after 10 s"}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const auto detail = [&](const std::string& program) {
      std::string text;
      for (const std::string& reason : row.reasons)
        text += program + ": ../../usercard.lock: " + reason + "\n";
      return text;
    };
    Station setup;
    Process first(TERMINAL_BIN, setup.Options()), second(TERMINAL_BIN, setup.Options());
    first.Write("1\n");
    second.Write("3\n");
    ASSERT_TRUE(first.WaitForOutput(kMenu) && second.WaitForOutput(kMenu));
    int held = -1;
    row.block(setup.dir, held);
    // All at once, so that a lock held for ever costs its bound once.
    first.Write("1\n");
    second.Write("2\n");
    Process late(TERMINAL_BIN, setup.Options()), issuer(ISSUER_BIN, setup.Options()),
        settle(SETTLE_BIN, setup.Options());
    late.Write("6\n");
    issuer.Write("7 5000\n");
    for (Process* terminal : {&first, &second}) {
      ASSERT_TRUE(terminal->WaitForOutput("File Write Error.\n"));
      EXPECT_EQ(terminal->err(), detail("terminal"));
    }
    EXPECT_EQ(late.Wait(), 0);
    EXPECT_EQ(late.out() + late.err(),
              std::string(kSelection) + "File Write Error.\n" + detail("terminal"));
    EXPECT_EQ(issuer.Wait(), 0);
    EXPECT_EQ(issuer.out().substr(issuer.out().size() - 18), "File Write Error.\n");
    EXPECT_EQ(issuer.err(), detail("issuer"));
    EXPECT_EQ(settle.Wait(), 0);
    EXPECT_EQ(settle.out(), "Cannot find DB!\n");
    EXPECT_EQ(settle.err(), detail("settle"));
    if (held >= 0) close(held);
    EXPECT_EQ(setup.dir.Read("usercard.txt"), kCardLine);
    EXPECT_EQ(setup.dir.Read("1111.txt") + setup.dir.Read("3333.txt"), "");
    EXPECT_FALSE(setup.dir.Exists("6666.txt"));
  }
}

// A card someone else writes (an operator's top-up, an editor, issuer) is the card: the next tag
// is decided on it, whether the terminal that tagged before runs on, was killed, or ended, and
// whatever the journal still holds of that terminal's tags.
TEST(ConcurrentTerminals, CardWrittenFromOutsideIsTheCard) {
  // The card after the first tag below, a get-on at station 1, with other balances.
  const auto after_get_on = [](const char* balance) {
    return std::string("42 S I 1050 0 0 1111 F ") + balance + " 1050 S 1417849509 201412675";
  };
  const std::string block = "------------------------------\n";
  const struct Row {
    const char* name;
    const char* stop;     // how the first terminal ends before the card is written: "" not at all
    std::string written;  // the card written from outside; empty: issuer "7 5000"
    const char* next;     // then, at the first terminal or at station 3: the tag, typed
    std::string shown;    // its result block
    std::string card;     // the card file's start afterwards
  } rows[] = {
      {"edited between two tags, the balance short", "", after_get_on("1249"), "1\n",
       block + "Not enough balance..\n\nTotal fee : 1250.\nYour balance : 1249.\n" + block,
       after_get_on("1249")},
      {"issued beside a running terminal", "", "", "1\n",
       block + "Tagging is processed competely.\n\nTotal fee : 1050.\nYour balance : 3950.\n" +
           block,
       "7 S I 1050 0 0 1111 F 3950 1050 S "},
      {"topped up by hand after a kill", "kill", after_get_on("1018950"), "3\n2\n",
       block + "Tagging is processed competely.\n\nTotal fee : 200.\nYour balance : 1018750.\n" +
           block,
       "42 S O 0 200 0 3333 F 1018750 1250 S "},
      {"topped up by hand between two terminals", "end", after_get_on("1018950"), "3\n2\n",
       block + "Tagging is processed competely.\n\nTotal fee : 200.\nYour balance : 1018750.\n" +
           block,
       "42 S O 0 200 0 3333 F 1018750 1250 S "},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Station setup;
    auto first = std::make_unique<Process>(TERMINAL_BIN, setup.Options());
    first->Write("1\n1\n");
    ASSERT_TRUE(first->WaitForOutput("Your balance : 18950."));
    ASSERT_TRUE(first->WaitForCount(kMenu, 2));
    if (*row.stop != '\0') {
      kill(-first->pid(), std::string_view(row.stop) == "kill" ? SIGKILL : SIGTERM);
      first->Wait();
    }
    if (row.written.empty()) {
      EXPECT_NE(RunProgram(ISSUER_BIN, "7 5000\n", setup.Options()).out.find("Complete"),
                std::string::npos);
    } else {
      setup.dir.Write("usercard.txt", row.written);
    }
    Process* tagging = first.get();
    std::unique_ptr<Process> next;
    if (*row.stop != '\0') {
      next = std::make_unique<Process>(TERMINAL_BIN, setup.Options());
      tagging = next.get();
    }
    const std::size_t from = tagging->out().size();
    const std::size_t results = CountOf(tagging->out(), "Your balance");
    tagging->Write(row.next);
    ASSERT_TRUE(tagging->WaitForCount("Your balance", results + 1));
    const std::size_t shown_at = tagging->out().find(block, from);
    EXPECT_EQ(tagging->out().substr(shown_at, row.shown.size()), row.shown) << tagging->out();
    EXPECT_EQ(setup.dir.Read("usercard.txt").substr(0, row.card.size()), row.card);
    kill(-tagging->pid(), SIGTERM);
    EXPECT_EQ(tagging->Wait(), 0);
    EXPECT_EQ(tagging->err(), "");
  }
}

}  // namespace
