// SPDX-License-Identifier: Apache-2.0
// The real programs stopped again and again at random moments. A terminal, on one card, by a
// console's stop signals, by the end of its period or by a kill of its menu process: the card
// and the logs keep the books to the won (after a kill, once the next start has completed the
// tag cut off). settle, its writes slowed so that stops fall between them, by Ctrl-C, SIGTERM
// or SIGKILL: its two reports hold the same settlements once the books are brought up.
// Drawn from a seed: FARE_KILL_STORM_SEED replays one, FARE_KILL_STORM_ROUNDS sets the stops.
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <random>
#include <thread>

#include <gtest/gtest.h>

#include "BookFiles.h"
#include "FileChanges.h"
#include "Harness.h"
#include "Journal.h"

namespace {

using namespace std::chrono_literals;
using Micros = std::chrono::microseconds;

std::uint64_t FromEnvironment(const char* name, std::uint64_t fallback) {
  const char* text = std::getenv(name);
  return text == nullptr || *text == '\0' ? fallback : std::strtoull(text, nullptr, 10);
}
const std::uint64_t kSeed = FromEnvironment("FARE_KILL_STORM_SEED", 1417849509);
const std::uint64_t kRounds = FromEnvironment("FARE_KILL_STORM_ROUNDS", 200);

// Waits |pause|, spinning the last part: a sleep is no shorter than the scheduler's tick.
void Pause(Micros pause) {
  const auto until = std::chrono::steady_clock::now() + pause;
  if (pause > 200us) std::this_thread::sleep_for(pause - 100us);
  while (std::chrono::steady_clock::now() < until) {
  }
}

// Whether |out| ends between tags: at the menu, or after the whole outcome of a choice.
bool EndsBetweenTags(const std::string& out) {
  for (const std::string& tail :
       {std::string(kMenu), std::string(30, '-') + "\n", std::string("BalanceCheck Complete.\n"),
        std::string("Wrong Input Error\n")}) {
    if (out.ends_with(tail)) return true;
  }
  return false;
}

enum Stop { kInterrupt, kTerminate, kHangUp, kPeriodEnd, kKillMenu };

void Storm(const std::vector<Stop>& kinds) {
  SCOPED_TRACE("seed " + std::to_string(kSeed) + " (FARE_KILL_STORM_SEED replays it)");
  std::mt19937 rng(static_cast<std::mt19937::result_type>(kSeed));
  const auto uniform = [&](int low, int high) {
    return std::uniform_int_distribution(low, high)(rng);
  };
  std::uniform_real_distribution<double> log_pause(0.0, std::log(20000.0));
  DataDir dir;
  ClockFile clock(dir.Path("clock"));
  std::int64_t now = kStart, logged = 0;
  dir.Write("usercard.txt", kOpeningCard);
  std::size_t in_flight = 0;
  for (std::uint64_t round = 1; round <= kRounds && !testing::Test::HasFailure(); ++round) {
    const Stop stop =
        kinds[static_cast<std::size_t>(uniform(0, static_cast<int>(kinds.size()) - 1))];
    const int terminal_choice = uniform(1, 6);
    std::string choices;
    for (int i = uniform(1, 6); i > 0; --i)
      choices += "1\n1\n2\n2\n7\n"[2 * uniform(0, 4)] + std::string("\n");
    std::string stream;  // typed after the period ran out, drawn here so that a seed replays it
    for (int i = 0; i < 400 && stop == kPeriodEnd; ++i) stream += "12"[uniform(0, 1)];
    const Micros pause(static_cast<std::int64_t>(std::exp(log_pause(rng))));
    clock.Set(now += uniform(0, 40));
    SCOPED_TRACE("round " + std::to_string(round) + ": terminal " +
                 std::to_string(terminal_choice) + ", choices " + choices + ", pause " +
                 std::to_string(pause.count()) + " us, stop " + std::to_string(stop));
    Process terminal(TERMINAL_BIN, {dir.workdir(), &clock});
    terminal.Write(std::to_string(terminal_choice) + "\n");
    ASSERT_TRUE(terminal.WaitForOutput(kMenu)) << terminal.out() << terminal.err();
    const pid_t menu = FirstChildOf(terminal.pid());
    terminal.Write(choices);
    Pause(pause);
    in_flight += LockIsHeld(dir.Path("usercard.lock"));
    if (stop == kKillMenu) {
      kill(menu, SIGKILL);
      terminal.Signal(SIGTERM);  // and the supervisor, which would otherwise wait out the period
    } else if (stop == kPeriodEnd) {
      clock.Set(now += kServicePeriod);
      // Tags keep coming until the supervisor sees the end, so that it meets one under way.
      for (std::size_t i = 0; i < stream.size() && !terminal.WaitForOutput(kPeriodOver, 0, 1ms);
           ++i) {
        terminal.Write(stream.substr(i, 1) + "\n");
      }
    } else {
      kill(-terminal.pid(), stop == kInterrupt ? SIGINT : stop == kTerminate ? SIGTERM : SIGHUP);
    }
    EXPECT_EQ(terminal.Wait(20s), 0) << terminal.out() << terminal.err();
    EXPECT_FALSE(GroupIsAlive(terminal.pid())) << "a process of the terminal outlived it";
    EXPECT_EQ(terminal.err(), "");
    const std::string& out = terminal.out();
    const Shown shown = ShownCharges(out);
    EXPECT_EQ(CountOf(out, kChargedLine), shown.tags) << "a result block cut short";
    ASSERT_TRUE(WholeCard(dir.Read("usercard.txt"))) << dir.Read("usercard.txt");
    if (stop == kKillMenu) {
      // The next start, of another station, completes or discards the tag the kill cut off.
      Process next(TERMINAL_BIN, {dir.workdir(), &clock});
      next.Write(std::to_string(terminal_choice % 6 + 1) + "\n");
      ASSERT_TRUE(next.WaitForOutput(kMenu)) << next.out() << next.err();
      next.Signal(SIGTERM);
      ASSERT_EQ(next.Wait(), 0);
    } else if (stop == kPeriodEnd) {
      EXPECT_TRUE(out.ends_with(kPeriodOver) && EndsBetweenTags(out.substr(0, out.size() - 16)))
          << out;
    } else {
      // Ctrl-C ends the console's line, the other stops leave it as the menu left it.
      const bool ended = stop != kInterrupt || out.ends_with("\n");
      EXPECT_TRUE(ended && EndsBetweenTags(out.substr(0, out.size() - (stop == kInterrupt))) &&
                  out.find(kPeriodOver) == std::string::npos)
          << out;
    }
    const LogCheck log =
        CheckLog(dir.Read(LogNameOf(terminal_choice)), terminal_choice * 1111, kCardId);
    ASSERT_EQ(log.fault, "");
    // A kill may leave a tag logged but not shown; a stop shows every tag it logged.
    EXPECT_TRUE(log.lines == shown.tags || (stop == kKillMenu && log.lines == shown.tags + 1));
    EXPECT_LE(shown.charges, log.charges);
    logged += log.charges;
    ASSERT_EQ(kOpening - WholeCard(dir.Read("usercard.txt"))->balance, logged)
        << "the card lost more or less than its logs show";
    const JournalScan journal =
        ScanJournal(dir.Exists(kJournalName) ? dir.Read(kJournalName) : "", kCardBooks);
    EXPECT_EQ(journal.how, JournalEnd::kClean);
    for (const JournalRecord& record : journal.records) EXPECT_EQ(record.mark, kAppliedMark);
  }
  // A storm whose stops all fell between tags would prove nothing about a tag cut in half.
  EXPECT_GT(in_flight, 0u);
  EXPECT_GT(logged, 0);
}

TEST(KillStorm, StopRequestsAndThePeriodEndNeverSplitATag) {
  Storm({kInterrupt, kTerminate, kHangUp, kPeriodEnd});
}

TEST(KillStorm, KilledMenuProcessLeavesExactBooksAfterTheNextStart) { Storm({kKillMenu}); }

// The settle a tracer started, once it runs (a tracer's first children may be its own probes).
pid_t SettleUnder(pid_t tracer) {
  while (IsRunning(tracer)) {
    std::ifstream children("/proc/" + std::to_string(tracer) + "/task/" + std::to_string(tracer) +
                           "/children");
    for (pid_t child = 0; children >> child;) {
      std::ifstream comm("/proc/" + std::to_string(child) + "/comm");
      std::string name;
      if (std::getline(comm, name) && name == "settle") return child;
    }
  }
  return -1;
}

// Once the next holder of the card lock has brought the books up, both reports hold the same
// settlements, one more whenever the summary was shown; Ctrl-C and SIGTERM never part them.
TEST(KillStorm, StoppedSettlementLeavesBothReportsOrNeither) {
  if (access("/usr/bin/strace", X_OK) != 0) GTEST_SKIP() << "needs strace to slow the writes";
  SCOPED_TRACE("seed " + std::to_string(kSeed));
  std::mt19937 rng(static_cast<std::mt19937::result_type>(kSeed));
  DataDir dir;
  dir.Write("usercard.txt", kOpeningCard);
  for (int i = 1; i <= 6; ++i)
    dir.Write(LogNameOf(i), "1111 0 0 200 42 F 1250 S O 1417849509 201412675\n");
  std::string boot;
  std::getline(std::ifstream("/proc/sys/kernel/random/boot_id"), boot);
  SetBootId(boot);  // so that recovery here takes the records for this boot's, as settle would
  const ProcessOptions slow{dir.workdir(),
                            nullptr,
                            {},
                            {"/usr/bin/strace", "-f", "-qq", "-o/dev/null", "--seccomp-bpf",
                             "-etrace=pwrite64", "-einject=pwrite64:delay_exit=5000"}};
  std::size_t settled = 0, held = 0;
  for (std::uint64_t round = 1; round <= kRounds; ++round) {
    const int stop = std::vector{SIGINT, SIGTERM,
                                 SIGKILL}[std::uniform_int_distribution<std::size_t>(0, 2)(rng)];
    const Micros pause(
        std::uniform_int_distribution<std::int64_t>(5000, 60000)(rng));  // a run: ~50 ms
    SCOPED_TRACE("round " + std::to_string(round) + ": signal " + std::to_string(stop) + " after " +
                 std::to_string(pause.count()) + " us");
    Process tracer(SETTLE_BIN, slow);
    const pid_t settle = SettleUnder(tracer.pid());  // -1: it ended before it was seen
    Pause(pause);
    held += LockIsHeld(dir.Path("usercard.lock"));
    if (settle > 0) kill(settle, stop);
    tracer.Wait();
    const auto count = [&](const char* report) { return CountOf(dir.Read(report), "Date : "); };
    EXPECT_TRUE(stop == SIGKILL || count("BusCompany.txt") == count("SubwayCompany.txt"));
    HeldBooks books = LockBooks(kCardBooks);
    ASSERT_TRUE(Held(books));
    UnlockBooks(books);
    ASSERT_EQ(count("BusCompany.txt"), count("SubwayCompany.txt")) << tracer.out();
    const std::size_t now = count("SubwayCompany.txt");
    EXPECT_TRUE(tracer.out().find("Overall Fee") == std::string::npos || now == settled + 1);
    settled = now;
  }
  EXPECT_GT(held, 0u);
  EXPECT_GT(settled, 0u);
}

}  // namespace
