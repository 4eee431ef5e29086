// SPDX-License-Identifier: Apache-2.0
// The real programs: the terminal's menu and stops, terminals side by side on one card, and kill
// storms (FARE_KILL_STORM_SEED replays one, FARE_KILL_STORM_ROUNDS sets its stops).
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <sstream>
#include <utility>

#include <gtest/gtest.h>

#include "BookFiles.h"
#include "DataFiles.h"
#include "FileChanges.h"
#include "Harness.h"
#include "Journal.h"

namespace {

using namespace std::chrono_literals;
using namespace std::string_literals;
using Micros = std::chrono::microseconds;
namespace fs = std::filesystem;

// A terminal started with |input|: the station's number, then the choices.
std::unique_ptr<Process> Terminal(const ProcessOptions& options, const std::string& input) {
  auto terminal = std::make_unique<Process>(TERMINAL_BIN, options);
  terminal->Write(input);
  return terminal;
}

std::string Tags(int station, int pairs) {  // a get-on and a get-off, |pairs| times
  std::string tags = std::to_string(station) + "\n";
  for (int i = 0; i < pairs; ++i) tags += "1\n2\n";
  return tags;
}

// The sum of the N of every "... Income : N Won" line of |text|.
long long Income(const std::string& text) {
  long long sum = 0;
  for (auto at = text.find("Income : "); at != std::string::npos; at = text.find("Income : ", ++at))
    sum += std::atoll(text.c_str() + at + 9);
  return sum;
}

TEST(TerminalProgram, ServesTheMenuUntilTheEndOfThePeriod) {
  Station setup;
  setup.dir.Write("6666.txt", "left by an earlier run\n");
  auto terminal = Terminal(setup.Options(), "6\n");
  ASSERT_TRUE(terminal->WaitForOutput(std::string(kSelection) + kDateLine + kMenu));
  setup.clock.Set(kStart + 179);  // the period still runs: a tag is served
  std::this_thread::sleep_for(600ms);
  terminal->Write("1\n");
  ASSERT_TRUE(terminal->WaitForOutput(kChargedLine));
  // A choice read at 180 seconds is not served, even before the supervisor has seen the end.
  const pid_t menu = FirstChildOf(terminal->pid());
  terminal->Signal(SIGSTOP);
  setup.clock.Set(kStart + 180);
  terminal->Write("2\n");
  ASSERT_TRUE(WaitUntil([&] { return !IsRunning(menu); }));
  terminal->Signal(SIGCONT);
  EXPECT_EQ(terminal->Wait(), 0);
  EXPECT_TRUE(terminal->out().ends_with(std::string(kMenu) + kPeriodOver));
  EXPECT_EQ(CountOf(setup.dir.Read("6666.txt"), "\n"), 1u);  // the earlier run's line gone
}

// At end of input the menu process ends and is reaped at once, not left a zombie, and the
// supervisor waits out the period; a console that went away ends nothing early either, and the
// menu process is stopped with the period, so a late choice charges nothing.
TEST(TerminalProgram, EndOfInputOrAClosedConsoleWaitsOutThePeriod) {
  for (const bool closed_output : {false, true}) {
    Station setup;
    auto terminal = Terminal(setup.Options(), "1\n");
    ASSERT_TRUE(terminal->WaitForOutput(kMenu));
    closed_output ? terminal->CloseOutput() : terminal->CloseInput();
    EXPECT_TRUE(closed_output || WaitUntil([&] { return FirstChildOf(terminal->pid()) < 0; }));
    EXPECT_TRUE(IsRunning(terminal->pid()));
    setup.clock.Set(kStart + 180);
    EXPECT_EQ(terminal->Wait(), 0);
    EXPECT_FALSE(GroupIsAlive(terminal->pid()));
    terminal->Write("1\n");
    EXPECT_TRUE(closed_output ||
                terminal->out() == std::string(kSelection) + kDateLine + kMenu + kPeriodOver);
    EXPECT_EQ(setup.dir.Read("usercard.txt") + setup.dir.Read("1111.txt"), kCardLine);
  }
}

// A tag waits for the card lock another holds when a stop comes: 0 the end of the period, SIGKILL
// the supervisor's death. Every stop but Ctrl-C lets it complete and show its result (Ctrl-Z
// stops the menu only then, the lock free); a Ctrl-C ends it at once, as not done.
TEST(TerminalProgram, StopsWaitForTheTagUnderWay) {
  for (const int sig : {0, SIGTERM, SIGHUP, SIGTSTP, SIGKILL, SIGINT}) {
    SCOPED_TRACE(sig);
    Station setup;
    const std::string lock_path = setup.dir.Path("usercard.lock");
    auto terminal = Terminal(setup.Options(), "2\n");
    ASSERT_TRUE(terminal->WaitForOutput(kMenu));
    const int lock = open(lock_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    flock(lock, LOCK_EX);
    terminal->Write("2\n");
    ASSERT_TRUE(WaitUntil([&] { return LockIsAwaited(lock_path); }));
    const pid_t menu = FirstChildOf(terminal->pid()), group = terminal->pid();
    sig == 0 ? setup.clock.Set(kStart + 180) : (void)kill(sig == SIGKILL ? group : -group, sig);
    // Asked to stop (by the supervisor at the end or at its death), the tag may go on.
    const int asked = sig == 0 || sig == SIGKILL ? SIGTERM : sig;
    ASSERT_TRUE(sig == SIGINT || WaitUntil([&] { return SignalIsPending(menu, asked); }));
    terminal->Write("1\n");  // typed after the stop: never served
    if (sig != SIGINT) close(lock);
    if (sig == SIGTSTP) {
      ASSERT_TRUE(terminal->WaitForOutput(kChargedLine));
      ASSERT_TRUE(WaitUntil([&] { return !SignalIsPending(menu, SIGTSTP); }));  // now it stops
      EXPECT_FALSE(LockIsHeld(lock_path));
      setup.clock.Set(kStart + 180);  // first: the choice typed meanwhile comes too late
      kill(-group, SIGCONT);
    }
    EXPECT_EQ(terminal->Wait(), sig == SIGKILL ? 128 + SIGKILL : 0);
    ASSERT_TRUE(WaitUntil([&] { return !IsRunning(menu); }));
    if (sig == SIGINT) close(lock);
    const std::string& out = terminal->out();
    EXPECT_EQ(out.find(kPeriodOver) != std::string::npos, sig == 0 || sig == SIGTSTP);
    if (sig == SIGINT) {
      EXPECT_TRUE(out.ends_with("File Write Error.\n\n")) << out;  // Ctrl-C ends the line
      EXPECT_EQ(terminal->err(), "terminal: ../../usercard.lock: Interrupted system call\n");
      EXPECT_EQ(setup.dir.Read("usercard.txt") + setup.dir.Read("2222.txt"), kCardLine);
    } else {
      EXPECT_EQ(CountOf(out, kChargedLine), 1u) << out;
      EXPECT_EQ(CountOf(setup.dir.Read("2222.txt"), "\n"), 1u);
      EXPECT_EQ(ParseCardLine(setup.dir.Read("usercard.txt"))->termId, 2222);
    }
  }
}

// strace delaying every one of the system calls |calls| by |micros|.
std::vector<std::string> Slowed(const std::string& calls, int micros) {
  const std::string inject = "-einject=" + calls + ":delay_exit=" + std::to_string(micros);
  return {"/usr/bin/strace",  "-f",  "-qq", "-o/dev/null", "--seccomp-bpf",
          "-etrace=" + calls, inject};
}

// A tag whose books outlast the supervisor's grace at the end of the period completes and shows
// its result; no kill hides a charge. The books are slow because the disk is (syncs of 150 ms),
// or because the menu process was stopped with the card lock and goes on well after the end.
TEST(TerminalProgram, SlowBooksAtTheEndOfThePeriodHideNoCharge) {
  for (const bool slow_syncs : {true, false}) {
    SCOPED_TRACE(slow_syncs ? "syncs of 150 ms" : "stopped with the card lock");
    if (slow_syncs && access("/usr/bin/strace", X_OK) != 0) continue;
    Station setup;
    ProcessOptions options = setup.Options();
    if (slow_syncs) options.wrapper = Slowed("fsync,fdatasync", 150000);
    auto terminal = Terminal(options, Tags(4, 500));
    ASSERT_TRUE(terminal->WaitForOutput("Your balance")) << terminal->out() << terminal->err();
    const std::string lock = setup.dir.Path("usercard.lock");
    const pid_t menu = FirstChildOf(terminal->pid());
    bool stopped_with_lock = false;  // stop it at a moment it holds the card lock
    for (int tries = 0; !slow_syncs && !stopped_with_lock && tries < 1000; ++tries) {
      kill(menu, SIGSTOP);
      ASSERT_TRUE(WaitUntil([&] { return StateOf(menu) == 'T'; }));
      stopped_with_lock = LockIsHeld(lock);
      if (!stopped_with_lock) kill(menu, SIGCONT);
    }
    ASSERT_TRUE(slow_syncs ? WaitUntil([&] { return LockIsHeld(lock); }) : stopped_with_lock);
    setup.clock.Set(kStart + 180);
    if (!slow_syncs) std::this_thread::sleep_for(300ms), kill(menu, SIGCONT);  // past the grace
    EXPECT_EQ(terminal->Wait(), 0);
    const Tally shown = ShownCharges(terminal->out());
    const Tally log = CheckLog(setup.dir.Read("4444.txt"), 4444);
    EXPECT_GE(shown.tags, 2u);  // one before the end, one under way at it
    EXPECT_TRUE(log.tags == shown.tags && log.charges == shown.charges) << log.fault;
    EXPECT_EQ(20000 - ParseCardLine(setup.dir.Read("usercard.txt"))->balance, log.charges);
  }
}

// A console that stops reading holds up its own terminal only; both end with the period.
TEST(TerminalProgram, StalledConsoleHoldsUpNoOtherTerminal) {
  Station setup;
  setup.dir.Write("usercard.txt", kOpeningCard);
  Process stalled(TERMINAL_BIN, setup.Options());
  stalled.StallOutput();
  stalled.Write(Tags(6, 1000));  // far more output than a pipe holds
  ASSERT_TRUE(WaitUntil([&] {
    return ProcFile(FirstChildOf(stalled.pid()), "wchan").find("pipe_write") != std::string::npos;
  })) << "the menu process never blocked on its console";
  auto other = Terminal(setup.Options(), Tags(3, 1));
  ASSERT_TRUE(other->WaitForCount("Your balance", 2));
  setup.clock.Set(kStart + 180);
  EXPECT_EQ((std::vector{other->Wait(), stalled.Wait()}), (std::vector{0, 0}));
  EXPECT_TRUE(other->out().ends_with(kPeriodOver) && !GroupIsAlive(stalled.pid()));
  EXPECT_EQ(CountOf(setup.dir.Read("3333.txt"), "\n"), 2u);
  EXPECT_GT(CountOf(setup.dir.Read("6666.txt"), "\n"), 100u);  // until its console was full
}

TEST(ConcurrentTerminals, SixTerminalsOnOneCardKeepTheBooksAndSettle) {
  Station setup;
  setup.dir.Write("usercard.txt", kOpeningCard);
  const std::string earlier = "Date : 2014-12-5 18:0\nSubway Income : 1250 Won\n";
  setup.dir.Write("SubwayCompany.txt", earlier);
  std::vector<std::unique_ptr<Process>> terminals;
  std::string logs, after;
  std::int64_t logged = 0;
  for (int choice = 1; choice <= 6; ++choice)  // more tags than any gets through before the end
    terminals.push_back(Terminal(setup.Options(), Tags(choice, 250)));
  for (auto& terminal : terminals) ASSERT_TRUE(terminal->WaitForCount(kChargedLine, 80, 60s));
  setup.clock.Set(kStart + kServicePeriod);
  for (int choice = 1; choice <= 6; ++choice) {
    Process& terminal = *terminals[static_cast<std::size_t>(choice - 1)];
    EXPECT_EQ(terminal.Wait(), 0);
    EXPECT_TRUE(terminal.out().ends_with(kPeriodOver) && terminal.err().empty() &&
                CountOf(terminal.out(), "Error") == 0);
    // The period ended between tags: every tag shown is logged, and no other.
    const Tally log = CheckLog(setup.dir.Read(LogNameOf(choice)), choice * 1111);
    const Tally shown = ShownCharges(terminal.out());
    EXPECT_TRUE(log.fault.empty() && log.tags == shown.tags && log.charges == shown.charges)
        << log.fault;
    logged += log.charges;
    logs += setup.dir.Read(LogNameOf(choice));
  }
  EXPECT_EQ(kOpening - WholeCard(setup.dir.Read("usercard.txt"))->balance, logged);
  // The settlement reads them all, changes none, and adds its lines after the earlier ones.
  const RunResult settle = RunProgram(SETTLE_BIN, "", setup.Options());
  const std::string subway = setup.dir.Read("SubwayCompany.txt");
  const long long total = Income(setup.dir.Read("BusCompany.txt") + subway) - 1250;
  EXPECT_TRUE(total != 0 && subway.starts_with(earlier + "Date : "));
  EXPECT_NE(settle.out.find("Overall Fee : " + std::to_string(total) + " Won\n"), std::string::npos)
      << settle.out << settle.err;
  for (int choice = 1; choice <= 6; ++choice) after += setup.dir.Read(LogNameOf(choice));
  EXPECT_EQ(after, logs);
}

TEST(ConcurrentTerminals, SecondStartAtARunningStationIsRefused) {
  Station setup;
  auto running = Terminal(setup.Options(), Tags(2, 1));
  ASSERT_TRUE(running->WaitForCount("Your balance", 2));
  const RunResult second = RunProgram(TERMINAL_BIN, "2\n1\n", setup.Options());
  EXPECT_EQ(second.out + second.err, std::string(kSelection) + "Terminal Already Running.\n");
  running->Write("1\n");  // the running one tags on, its log whole
  ASSERT_TRUE(running->WaitForCount("Your balance", 3));
  EXPECT_EQ(CheckLog(setup.dir.Read("2222.txt"), 2222).tags, 3u);
  const pid_t menu = FirstChildOf(running->pid());
  kill(-running->pid(), SIGKILL);
  ASSERT_TRUE(WaitUntil([&] { return !IsRunning(menu); }));
  auto again = Terminal(setup.Options(), "2\n");  // once it is dead, its station starts at once
  EXPECT_TRUE(again->WaitForOutput(kMenu)) << again->out();
}

// No lock, no charge: with a directory in the lock's place, or a lock held for ever (waited for
// within its bound, the holder named), a tag, a start, issuer and settle each give their failure
// line and the reason, and the books stay as they were.
TEST(ConcurrentTerminals, CardLockThatCannotBeTakenChargesNothing) {
  const std::string holder = "held by process " + std::to_string(getpid()) + "; ";
  for (const bool directory : {true, false}) {
    const auto detail = [&](const std::string& program) {  // each reason on a line
      const std::string at = program + ": ../../usercard.lock: ";
      return directory
                 ? at + "Is a directory\n"
                 : at + holder + "waiting up to 10 s\n" + at + holder + "given up after 10 s\n";
    };
    SCOPED_TRACE(detail("terminal"));
    Station setup;
    const std::string lock = setup.dir.Path("usercard.lock");
    auto tagging = Terminal(setup.Options(), "1\n");
    ASSERT_TRUE(tagging->WaitForOutput(kMenu));
    const int held = directory ? -1 : open(lock.c_str(), O_RDONLY | O_CLOEXEC);
    if (directory) fs::rename(lock, setup.dir.Path("moved.lock")), fs::create_directory(lock);
    flock(held, LOCK_EX);   // none with the directory
    tagging->Write("1\n");  // all at once, so that a lock held for ever costs its bound once
    auto start = Terminal(setup.Options(), "6\n");
    Process issuer(ISSUER_BIN, setup.Options()), settle(SETTLE_BIN, setup.Options());
    issuer.Write("7 5000\n");
    ASSERT_TRUE(tagging->WaitForOutput("File Write Error.\n"));
    EXPECT_EQ(tagging->err(), detail("terminal"));
    EXPECT_EQ((std::vector{start->Wait(), issuer.Wait(), settle.Wait()}), (std::vector{0, 0, 0}));
    EXPECT_EQ(start->out() + start->err(),
              std::string(kSelection) + "File Write Error.\n" + detail("terminal"));
    EXPECT_TRUE(issuer.out().ends_with("File Write Error.\n") && issuer.err() == detail("issuer"));
    EXPECT_EQ(settle.out() + settle.err(), "Cannot find DB!\n" + detail("settle"));
    close(held);
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
  const std::string after = "42 S O 0 200 0 3333 F 1018750 1250 S ";  // a get-off at 3
  const struct {
    int stop;             // how the first terminal ends before the card is written; 0: it runs on
    std::string written;  // the card written from outside; empty: issuer "7 5000"
    const char* next;     // then, at the first terminal or at station 3: the tag typed
    std::string shown, card_after;
  } rows[] = {
      {0, card("1249"), "1\n", block("Not enough balance..", 1250, 1249), card("1249")},
      {0, "", "1\n", block(kChargedLine, 1050, 3950), "7 S I 1050 0 0 1111 F 3950 1050 S "},
      {SIGKILL, card("1018950"), "3\n2\n", block(kChargedLine, 200, 1018750), after},
      {SIGTERM, card("1018950"), "3\n2\n", block(kChargedLine, 200, 1018750), after},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.shown);
    Station setup;
    auto first = Terminal(setup.Options(), "1\n1\n");
    ASSERT_TRUE(first->WaitForOutput("Your balance : 18950.") && first->WaitForCount(kMenu, 2));
    if (row.stop != 0) kill(-first->pid(), row.stop), first->Wait();
    if (row.written.empty())
      EXPECT_TRUE(RunProgram(ISSUER_BIN, "7 5000\n", setup.Options()).out.ends_with("Complete!\n"));
    else
      setup.dir.Write("usercard.txt", row.written);
    auto next = row.stop != 0 ? Terminal(setup.Options(), "") : std::move(first);
    const std::size_t from = next->out().size();
    next->Write(row.next);
    ASSERT_TRUE(next->WaitForOutput(row.shown, from)) << next->out();
    EXPECT_TRUE(setup.dir.Read("usercard.txt").starts_with(row.card_after));
    kill(-next->pid(), SIGTERM);
    EXPECT_TRUE(next->Wait() == 0 && next->err().empty()) << next->err();
  }
}

std::uint64_t FromEnvironment(const char* name, std::uint64_t fallback) {
  const char* text = std::getenv(name);
  return text == nullptr || *text == '\0' ? fallback : std::strtoull(text, nullptr, 10);
}
const std::uint64_t kSeed = FromEnvironment("FARE_KILL_STORM_SEED", 1417849509);
const std::uint64_t kRounds = FromEnvironment("FARE_KILL_STORM_ROUNDS", 200);

// Waits |pause|, spinning the last part (a sleep is no shorter than the scheduler's tick), and
// tells whether the card lock of |dir| is held then.
bool LockHeldAfter(Micros pause, const DataDir& dir) {
  const auto until = std::chrono::steady_clock::now() + pause;
  if (pause > 200us) std::this_thread::sleep_for(pause - 100us);
  while (std::chrono::steady_clock::now() < until) continue;
  return LockIsHeld(dir.Path("usercard.lock"));
}

// Whether |out| ends between tags: at the menu, or after the whole outcome of a choice.
bool EndsBetweenTags(const std::string& out) {
  const char* tails[] = {kMenu, "------------------------------\n", "BalanceCheck Complete.\n",
                         "Wrong Input Error\n"};
  return std::any_of(tails, tails + 4, [&](const char* tail) { return out.ends_with(tail); });
}

// A terminal on one card stopped by a console's stop signals, by the end of its period or by a
// kill of its menu process: the card and the logs keep the books to the won (after a kill, once
// the next start has completed the tag cut off).
enum Stop { kInterrupt, kTerminate, kHangUp, kPeriodEnd, kKillMenu };
void Storm(const std::vector<Stop>& kinds) {
  SCOPED_TRACE("seed " + std::to_string(kSeed) + " (FARE_KILL_STORM_SEED replays it)");
  std::mt19937 rng(static_cast<std::mt19937::result_type>(kSeed));
  const auto uniform = [&](int low, int high) {
    return std::uniform_int_distribution(low, high)(rng);
  };
  std::uniform_real_distribution<double> log_pause(0.0, std::log(20000.0));
  Station setup;
  const DataDir& dir = setup.dir;
  dir.Write("usercard.txt", kOpeningCard);
  std::int64_t now = kStart, logged = 0;
  std::size_t in_flight = 0;
  for (std::uint64_t round = 1; round <= kRounds && !testing::Test::HasFailure(); ++round) {
    const Stop stop = kinds[static_cast<std::size_t>(uniform(0, int(kinds.size()) - 1))];
    const int choice = uniform(1, 6);
    std::string choices, stream;  // typed after the period ran out, drawn here to replay a seed
    for (int i = uniform(1, 6); i > 0; --i) choices += "1\n1\n2\n2\n7\n"[2 * uniform(0, 4)] + "\n"s;
    for (int i = 0; i < 400 && stop == kPeriodEnd; ++i) stream += "12"[uniform(0, 1)];
    const Micros pause(static_cast<std::int64_t>(std::exp(log_pause(rng))));
    setup.clock.Set(now += uniform(0, 40));
    SCOPED_TRACE("round " + std::to_string(round) + ": terminal " + std::to_string(choice) +
                 ", choices " + choices + ", pause " + std::to_string(pause.count()) +
                 " us, stop " + std::to_string(stop));
    auto terminal = Terminal(setup.Options(), std::to_string(choice) + "\n");
    ASSERT_TRUE(terminal->WaitForOutput(kMenu)) << terminal->out() << terminal->err();
    const pid_t menu = FirstChildOf(terminal->pid());
    terminal->Write(choices);
    in_flight += LockHeldAfter(pause, dir);
    if (stop == kKillMenu) {  // and the supervisor, which would otherwise wait out the period
      kill(menu, SIGKILL), terminal->Signal(SIGTERM);
    } else if (stop == kPeriodEnd) {
      setup.clock.Set(now += kServicePeriod);
      // Tags keep coming until the supervisor sees the end, so that it meets one under way.
      for (std::size_t i = 0; i < stream.size() && !terminal->WaitForOutput(kPeriodOver, 0, 1ms);)
        terminal->Write(stream.substr(i++, 1) + "\n");
    } else {
      kill(-terminal->pid(), stop == kInterrupt ? SIGINT : stop == kTerminate ? SIGTERM : SIGHUP);
    }
    EXPECT_TRUE(terminal->Wait(20s) == 0 && terminal->err().empty())
        << terminal->out() << terminal->err();
    EXPECT_FALSE(GroupIsAlive(terminal->pid())) << "a process of the terminal outlived it";
    const std::string& out = terminal->out();
    const Tally shown = ShownCharges(out);
    EXPECT_EQ(CountOf(out, kChargedLine), shown.tags) << "a result block cut short: " << out;
    ASSERT_TRUE(WholeCard(dir.Read("usercard.txt"))) << dir.Read("usercard.txt");
    if (stop == kKillMenu) {
      // The next start, of another station, completes or discards the tag the kill cut off.
      auto next = Terminal(setup.Options(), std::to_string(choice % 6 + 1) + "\n");
      ASSERT_TRUE(next->WaitForOutput(kMenu)) << next->out() << next->err();
      next->Signal(SIGTERM);
      ASSERT_EQ(next->Wait(), 0);
    } else {
      // The period's end and a Ctrl-C end the console's line; the other stops leave it as is.
      const std::string end = stop == kPeriodEnd ? kPeriodOver : stop == kInterrupt ? "\n" : "";
      EXPECT_TRUE(out.ends_with(end) && EndsBetweenTags(out.substr(0, out.size() - end.size())) &&
                  (stop == kPeriodEnd) == (out.find(kPeriodOver) != std::string::npos))
          << out;
    }
    const Tally log = CheckLog(dir.Read(LogNameOf(choice)), choice * 1111);
    ASSERT_EQ(log.fault, "");
    // A kill may leave a tag logged but not shown; a stop shows every tag it logged.
    EXPECT_TRUE(log.tags == shown.tags || (stop == kKillMenu && log.tags == shown.tags + 1));
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
    std::istringstream children(ProcFile(tracer, "task/" + std::to_string(tracer) + "/children"));
    for (pid_t child = 0; children >> child;)
      if (ProcFile(child, "comm") == "settle\n") return child;
  }
  return -1;
}

// settle, its writes slowed, stopped by Ctrl-C, SIGTERM or SIGKILL: once the books are brought
// up, both reports hold the same settlements, one more whenever the summary was shown. With
// |kept_runs| a new kept run each round is settled once or not at all, and a last settle
// --kept-runs settles the rest.
void SettleStorm(bool kept_runs) {
  if (access("/usr/bin/strace", X_OK) != 0) GTEST_SKIP() << "needs strace to slow the writes";
  SCOPED_TRACE("seed " + std::to_string(kSeed));
  std::mt19937 rng(static_cast<std::mt19937::result_type>(kSeed));
  const std::string line = "1111 0 0 200 42 F 1250 S O 1417849509 201412675\n";
  const long long each = 1250;  // what a settlement credits for |line|: its fare
  DataDir dir;
  const auto income = [&] {
    return Income(dir.Read(kSubwayReportName) + dir.Read(kBusReportName));
  };
  dir.Write("usercard.txt", kOpeningCard);
  for (int i = 1; i <= 6; ++i) dir.Write(LogNameOf(i), kept_runs ? "" : line);
  std::string boot;
  std::getline(std::ifstream("/proc/sys/kernel/random/boot_id"), boot);
  SetBootId(boot);  // so that recovery here takes the records for this boot's, as settle would
  ProcessOptions slow{dir.workdir(), nullptr, {}, Slowed("pwrite64", 5000)}, once{dir.workdir()};
  once.wrapper = {"/bin/sh", "-c", "exec \"$0\" --kept-runs"};
  if (kept_runs) slow.wrapper.insert(slow.wrapper.end(), once.wrapper.begin(), once.wrapper.end());
  const auto count = [&](const char* report) { return CountOf(dir.Read(report), "Date : "); };
  std::size_t settled = 0, held = 0;
  const std::uint64_t rounds = kRounds / 2;  // two storms of settle: as long as one was
  for (std::uint64_t round = 1; round <= rounds; ++round) {
    const int stop = std::vector{SIGINT, SIGTERM, SIGKILL}[rng() % 3];
    const Micros pause(5000 + rng() % 55001);  // of a settle of ~50 ms
    SCOPED_TRACE("round " + std::to_string(round) + ": signal " + std::to_string(stop) + " after " +
                 std::to_string(pause.count()) + " us");
    const std::string run = KeptRunName(LogNameOf(int(round % 6) + 1), kStart + int(round));
    if (kept_runs) dir.Write(run + ".unsettled", line);
    Process tracer(SETTLE_BIN, slow);
    const pid_t settle = SettleUnder(tracer.pid());  // -1: it ended before it was seen
    held += LockHeldAfter(pause, dir);
    if (settle > 0) kill(settle, stop);
    tracer.Wait();
    EXPECT_TRUE(stop == SIGKILL || count("BusCompany.txt") == count("SubwayCompany.txt"));
    HeldBooks books = LockBooks(kCardBooks);
    ASSERT_TRUE(Held(books));
    UnlockBooks(books);
    ASSERT_EQ(count("BusCompany.txt"), count("SubwayCompany.txt")) << tracer.out();
    const std::size_t was = std::exchange(settled, count("SubwayCompany.txt"));
    EXPECT_TRUE(tracer.out().find("Overall Fee") == std::string::npos || settled == was + 1);
    EXPECT_TRUE(!kept_runs || income() <= each * int(round)) << "a run settled twice";
  }
  EXPECT_GT(held, 0u);
  EXPECT_GT(settled, 0u);
  if (!kept_runs) return;
  EXPECT_EQ(RunProgram(SETTLE_BIN, "", once).err, "");
  EXPECT_EQ(income(), each * int(rounds));
  for (const auto& entry : fs::directory_iterator(dir.root())) {
    const std::string name = entry.path().filename();
    EXPECT_TRUE(name.find(".run-") == std::string::npos || name.ends_with(".settled")) << name;
  }
}

TEST(KillStorm, StoppedSettlementLeavesBothReportsOrNeither) { SettleStorm(false); }

TEST(KillStorm, StoppedSettlementOfKeptRunsSettlesEachOnce) { SettleStorm(true); }

}  // namespace
