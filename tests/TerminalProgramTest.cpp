// SPDX-License-Identifier: Apache-2.0
// The terminal as a real program, its clock set by libfaketime: the selection, the tag menu,
// the end of the service period, a tag under way at the end or at a stop (on a slow disk too,
// at Ctrl-Z, after the supervisor's death), and terminals side by side.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <fstream>
#include <memory>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "Card.h"
#include "ConsoleTexts.h"
#include "DataDir.h"
#include "Ledger.h"
#include "Process.h"
#include "Station.h"

namespace {

using namespace std::chrono_literals;

// Waits, for a bounded time, until |done| holds.
template <typename Done>
bool WaitUntil(Done done) {
  for (int tries = 0; tries < 2000; ++tries) {
    if (done()) return true;
    std::this_thread::sleep_for(10ms);
  }
  return false;
}

TEST(TerminalProgram, SelectionTakesOnlyTheSixTerminals) {
  Station setup;
  const RunResult run =
      RunProgram(TERMINAL_BIN, "0\n7\nabc def\n-1\n4294968407\n", setup.Options());
  std::string expected = kSelection;
  for (int i = 0; i < 5; ++i) expected += std::string("Wrong Input Error\n") + kSelection;
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, expected);
  for (const char* log : {"1111.txt", "2222.txt", "3333.txt", "4444.txt", "5555.txt", "6666.txt",
                          "0.txt", "7777.txt"}) {
    EXPECT_FALSE(setup.dir.Exists(log)) << log;
  }
}

TEST(TerminalProgram, ServesTheMenuUntilTheEndOfThePeriod) {
  Station setup;
  setup.dir.Write("6666.txt", "left by an earlier run\n");
  Process terminal(TERMINAL_BIN, setup.Options());
  terminal.Write("6\n");
  ASSERT_TRUE(terminal.WaitForOutput(kMenu));
  EXPECT_EQ(terminal.out(), std::string(kSelection) + kDateLine + kMenu);
  EXPECT_EQ(setup.dir.Read("6666.txt"), "");

  // Wrong choices, a word that is not a number and the rest of its line.
  terminal.Write("3\nabc 1 1\n");
  std::string expected = std::string(kSelection) + kDateLine + kMenu;
  for (int i = 0; i < 2; ++i) expected += std::string("Wrong Input Error\n") + kDateLine + kMenu;
  ASSERT_TRUE(terminal.WaitForOutput(expected));
  std::this_thread::sleep_for(300ms);
  EXPECT_EQ(terminal.out(), expected);  // "1 1" went with "abc": no tag was made

  // 179 seconds in, the period still runs: a tag is still served.
  setup.clock.Set(kStart + 179);
  std::this_thread::sleep_for(600ms);
  const std::size_t before = terminal.out().size();
  terminal.Write("1\n");
  ASSERT_TRUE(terminal.WaitForOutput("Tagging is processed competely.", before));

  // A choice read at 180 seconds is not served, even before the supervisor has seen the end.
  const pid_t menu = FirstChildOf(terminal.pid());
  terminal.Signal(SIGSTOP);
  setup.clock.Set(kStart + 180);
  terminal.Write("2\n");
  ASSERT_TRUE(WaitUntil([&] { return !IsRunning(menu); }));
  terminal.Signal(SIGCONT);
  EXPECT_EQ(terminal.Wait(), 0);
  const std::string tail = std::string(kMenu) + kPeriodOver;
  EXPECT_EQ(terminal.out().substr(terminal.out().size() - tail.size()), tail);
  EXPECT_EQ(CountOf(setup.dir.Read("6666.txt"), "\n"), 1u);
}

TEST(TerminalProgram, EndOfInputStopsTheMenuQuietly) {
  Station setup;
  setup.dir.Write("usercard.txt.k1LLed", "a person's own file");
  Process terminal(TERMINAL_BIN, setup.Options());
  terminal.Write("1\n");
  terminal.CloseInput();
  ASSERT_TRUE(terminal.WaitForOutput(kMenu));
  // The menu process that ended is reaped while the supervisor waits out the period: no
  // zombie is left behind for the rest of it.
  EXPECT_TRUE(WaitUntil([&] { return FirstChildOf(terminal.pid()) < 0; }));
  EXPECT_TRUE(IsRunning(terminal.pid()));
  EXPECT_EQ(setup.dir.Read("usercard.txt.k1LLed"), "a person's own file");
  std::this_thread::sleep_for(500ms);
  EXPECT_EQ(terminal.out(), std::string(kSelection) + kDateLine + kMenu);
  setup.clock.Set(kStart + 180);
  EXPECT_EQ(terminal.Wait(), 0);
  EXPECT_EQ(terminal.out(), std::string(kSelection) + kDateLine + kMenu + kPeriodOver);
}

// Holds the card lock as another terminal's tag would, so that a tag of the terminal under test
// waits for it, its choice read and the stopping signals held back.
class HeldLock {
 public:
  explicit HeldLock(const DataDir& dir) : path_(dir.Path("usercard.lock")) {}
  void Take() {
    fd_ = open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    flock(fd_, LOCK_EX);
  }
  ~HeldLock() { Release(); }
  HeldLock(const HeldLock&) = delete;
  HeldLock& operator=(const HeldLock&) = delete;
  bool Awaited() const { return LockIsAwaited(path_); }
  void Release() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
  }

 private:
  std::string path_;
  int fd_ = -1;
};

// Starts terminal |choice| and has its tag wait for |lock| with choice |tag| read. Returns the
// menu process.
pid_t StartTagThatWaits(Process& terminal, HeldLock& lock, const std::string& choice,
                        const std::string& tag) {
  terminal.Write(choice);
  EXPECT_TRUE(terminal.WaitForOutput(kMenu));
  lock.Take();
  terminal.Write(tag);
  EXPECT_TRUE(WaitUntil([&] { return lock.Awaited(); }));
  return FirstChildOf(terminal.pid());
}

TEST(TerminalProgram, TagUnderWayAtTheEndOfThePeriodCompletes) {
  Station setup;
  HeldLock lock(setup.dir);
  Process terminal(TERMINAL_BIN, setup.Options());
  const pid_t menu = StartTagThatWaits(terminal, lock, "1\n", "1\n");
  setup.clock.Set(kStart + 180);
  // Once the supervisor has asked the menu process to stop, the tag may go on.
  ASSERT_TRUE(WaitUntil([&] { return SignalIsPending(menu, SIGTERM); }));
  lock.Release();
  EXPECT_EQ(terminal.Wait(), 0);
  const std::string& out = terminal.out();
  EXPECT_NE(out.find("Tagging is processed competely."), std::string::npos) << out;
  EXPECT_EQ(out.substr(out.size() - 16), "3 minutes over!\n");
  EXPECT_EQ(setup.dir.Read("usercard.txt"),
            "42 S I 1050 0 0 1111 F 18950 1050 S 1417849689 201412678");
  EXPECT_EQ(CountOf(setup.dir.Read("1111.txt"), "\n"), 1u);
}

// SIGTERM and SIGHUP wait for the tag under way. A Ctrl-C ends a tag still waiting for the card
// lock at once, as not done: it had not begun, so nothing is charged.
TEST(TerminalProgram, StopSignalsWaitForTheTagUnderWay) {
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
    SCOPED_TRACE(strsignal(sig));
    const bool waits = sig != SIGINT;
    Station setup;
    HeldLock lock(setup.dir);
    Process terminal(TERMINAL_BIN, setup.Options());
    const pid_t menu = StartTagThatWaits(terminal, lock, "2\n", "2\n");
    kill(-terminal.pid(), sig);  // as a console would: supervisor and menu process alike
    if (waits) {
      ASSERT_TRUE(WaitUntil([&] { return SignalIsPending(menu, sig); }));
    }
    terminal.Write("1\n");  // typed after the stop request: never served
    if (waits) lock.Release();
    EXPECT_EQ(terminal.Wait(), 0);  // with the lock still held, for a Ctrl-C
    const std::string& out = terminal.out();
    EXPECT_EQ(out.find("3 minutes over!"), std::string::npos);
    if (waits) {
      EXPECT_NE(out.find("Tagging is processed competely."), std::string::npos);
      EXPECT_EQ(CountOf(setup.dir.Read("2222.txt"), "\n"), 1u);
      EXPECT_EQ(ParseCardLine(setup.dir.Read("usercard.txt"))->termId, 2222);
    } else {
      EXPECT_EQ(out.substr(out.size() - 18), "File Write Error.\n") << out;
      EXPECT_EQ(terminal.err(), "terminal: ../../usercard.lock: Interrupted system call\n");
      EXPECT_EQ(setup.dir.Read("2222.txt"), "");
      EXPECT_EQ(setup.dir.Read("usercard.txt"), kCardLine);
    }
  }
}

// Ctrl-Z during a tag stops the menu process only once the result is out and the lock is free.
TEST(TerminalProgram, CtrlZWaitsForTheTagUnderWay) {
  Station setup;
  HeldLock lock(setup.dir);
  Process terminal(TERMINAL_BIN, setup.Options());
  const pid_t menu = StartTagThatWaits(terminal, lock, "1\n", "1\n");
  kill(-terminal.pid(), SIGTSTP);
  ASSERT_TRUE(WaitUntil([&] { return SignalIsPending(menu, SIGTSTP); }));
  lock.Release();
  ASSERT_TRUE(terminal.WaitForOutput("Tagging is processed competely."));
  ASSERT_TRUE(WaitUntil([&] { return !SignalIsPending(menu, SIGTSTP); }));  // now it stops
  EXPECT_FALSE(LockIsHeld(setup.dir.Path("usercard.lock")));
  kill(-terminal.pid(), SIGCONT);
  setup.clock.Set(kStart + 180);
  EXPECT_EQ(terminal.Wait(), 0);
  EXPECT_EQ(CountOf(setup.dir.Read("1111.txt"), "\n"), 1u);
}

// A killed supervisor leaves no menu process behind to serve tags without a period: the tag
// under way completes, the next choice is not served.
TEST(TerminalProgram, KilledSupervisorLeavesNoMenuProcessServing) {
  Station setup;
  HeldLock lock(setup.dir);
  Process terminal(TERMINAL_BIN, setup.Options());
  const pid_t menu = StartTagThatWaits(terminal, lock, "1\n", "1\n");
  terminal.Signal(SIGKILL);
  ASSERT_TRUE(WaitUntil([&] { return SignalIsPending(menu, SIGTERM); }));
  terminal.Write("2\n");
  lock.Release();
  ASSERT_TRUE(WaitUntil([&] { return !IsRunning(menu); }));
  EXPECT_EQ(terminal.Wait(), 128 + SIGKILL);
  EXPECT_EQ(CountOf(terminal.out(), "Tagging is processed competely."), 1u);
  EXPECT_EQ(CountOf(setup.dir.Read("1111.txt"), "\n"), 1u);
}

// Whether process |pid| is stopped by a signal.
bool IsStopped(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  std::getline(stat, line);
  const auto state = line.rfind(") ");
  return state != std::string::npos && line.compare(state + 2, 1, "T") == 0;
}

// Stops the menu process of |terminal| at a moment it holds the card lock, its tag's books
// under way.
bool StopWithTheCardLock(const Process& terminal, const std::string& lock) {
  const pid_t menu = FirstChildOf(terminal.pid());
  for (int tries = 0; tries < 1000; ++tries) {
    kill(menu, SIGSTOP);
    if (!WaitUntil([&] { return IsStopped(menu); })) return false;
    if (LockIsHeld(lock)) return true;
    kill(menu, SIGCONT);
    std::this_thread::sleep_for(1ms);
  }
  return false;
}

// A tag whose books outlast the supervisor's grace at the end of the period completes and shows
// its result; no kill hides a charge. The books are slow because the disk is (syncs of 150 ms),
// or because the menu process was stopped with the card lock and goes on only well after the
// end of the period.
TEST(TerminalProgram, SlowDiskAtTheEndOfThePeriodHidesNoCharge) {
  struct Row {
    const char* name;
    bool slow_syncs;
  };
  for (const Row row : {Row{"syncs of 150 ms", true}, Row{"stopped with the card lock", false}}) {
    SCOPED_TRACE(row.name);
    if (row.slow_syncs && access("/usr/bin/strace", X_OK) != 0) continue;  // strace is missing
    Station setup;
    ProcessOptions options = setup.Options();
    // Only the syncs stop for strace, and each of them waits 150 ms.
    if (row.slow_syncs) {
      options.wrapper = {"/usr/bin/strace",
                         "-f",
                         "-qq",
                         "-o/dev/null",
                         "--seccomp-bpf",
                         "-etrace=fsync,fdatasync",
                         "-einject=fsync,fdatasync:delay_exit=150000"};
    }
    Process terminal(TERMINAL_BIN, options);
    std::string tags = "4\n";
    for (int i = 0; i < 500; ++i) tags += "1\n2\n";
    terminal.Write(tags);
    ASSERT_TRUE(terminal.WaitForOutput("Your balance"));
    const std::string lock = setup.dir.Path("usercard.lock");
    if (row.slow_syncs) {
      ASSERT_TRUE(WaitUntil([&] { return LockIsHeld(lock); }));  // the next tag is under way
    } else {
      ASSERT_TRUE(StopWithTheCardLock(terminal, lock));
    }
    setup.clock.Set(kStart + 180);
    if (!row.slow_syncs) {
      std::this_thread::sleep_for(300ms);  // well past the supervisor's grace
      kill(FirstChildOf(terminal.pid()), SIGCONT);
    }
    EXPECT_EQ(terminal.Wait(), 0);
    const Shown shown = ShownCharges(terminal.out());
    EXPECT_GE(shown.tags, 2u);  // one before the end, one under way at it
    const LogCheck log = CheckLog(setup.dir.Read("4444.txt"), 4444, kCardId);
    EXPECT_EQ(log.lines, shown.tags);
    EXPECT_EQ(log.charges, shown.charges);
    EXPECT_EQ(20000 - ParseCardLine(setup.dir.Read("usercard.txt"))->balance, log.charges);
  }
}

// A console that stops reading holds up its own terminal only: a second terminal tags on, and
// both end with the period.
TEST(TerminalProgram, StalledConsoleHoldsUpNoOtherTerminal) {
  Station setup;
  setup.dir.Write("usercard.txt", kOpeningCard);
  Process stalled(TERMINAL_BIN, setup.Options());
  stalled.StallOutput();
  std::string tags = "6\n";
  for (int i = 0; i < 1000; ++i) tags += "1\n2\n";  // far more output than a pipe holds
  stalled.Write(tags);
  ASSERT_TRUE(WaitUntil([&] {
    std::ifstream wchan("/proc/" + std::to_string(FirstChildOf(stalled.pid())) + "/wchan");
    std::string where;
    return std::getline(wchan, where) && where.find("pipe_write") != std::string::npos;
  })) << "the menu process never blocked on its console";
  Process other(TERMINAL_BIN, setup.Options());
  other.Write("3\n1\n2\n");
  ASSERT_TRUE(other.WaitForCount("Your balance", 2));
  setup.clock.Set(kStart + 180);
  EXPECT_EQ(other.Wait(), 0);
  EXPECT_EQ(stalled.Wait(), 0);
  EXPECT_EQ(other.out().substr(other.out().size() - 16), "3 minutes over!\n");
  EXPECT_FALSE(GroupIsAlive(stalled.pid()));
  EXPECT_EQ(CountOf(setup.dir.Read("3333.txt"), "\n"), 2u);
  // It tagged for real, under the card lock, until its console was full.
  EXPECT_GT(CountOf(setup.dir.Read("6666.txt"), "\n"), 100u);
}

// A console that went away before the end of the period: the supervisor still stops the menu
// process, so a choice that arrives afterwards charges nothing.
TEST(TerminalProgram, ClosedConsoleLeavesNoProcessToChargeLateChoices) {
  Station setup;
  Process terminal(TERMINAL_BIN, setup.Options());
  terminal.Write("1\n");
  ASSERT_TRUE(terminal.WaitForOutput(kMenu));
  terminal.CloseOutput();
  setup.clock.Set(kStart + 180);
  EXPECT_EQ(terminal.Wait(), 0);
  EXPECT_FALSE(GroupIsAlive(terminal.pid()));
  terminal.Write("1\n");
  EXPECT_EQ(setup.dir.Read("usercard.txt"), kCardLine);
  EXPECT_EQ(setup.dir.Read("1111.txt"), "");
}

TEST(TerminalProgram, StopSignalBetweenTagsEndsTheProgram) {
  Station setup;
  Process terminal(TERMINAL_BIN, setup.Options());
  terminal.Write("5\n");
  ASSERT_TRUE(terminal.WaitForOutput(kMenu));
  terminal.Signal(SIGTERM);  // the supervisor alone
  EXPECT_EQ(terminal.Wait(), 0);
  EXPECT_EQ(terminal.out(), std::string(kSelection) + kDateLine + kMenu);
}

TEST(TerminalProgram, SideBySideTerminalsNeverLoseACharge) {
  constexpr int kTagsEach = 200;
  Station setup;
  setup.dir.Write("usercard.txt", kOpeningCard);
  const char* choices[] = {"1\n", "3\n", "6\n"};
  std::vector<std::unique_ptr<Process>> terminals;
  for (const char* choice : choices) {
    terminals.push_back(std::make_unique<Process>(TERMINAL_BIN, setup.Options()));
    terminals.back()->Write(choice);
  }
  std::string script;
  for (int i = 0; i < kTagsEach / 2; ++i) script += "1\n2\n";
  for (auto& terminal : terminals) terminal->Write(script);
  for (auto& terminal : terminals) {
    ASSERT_TRUE(terminal->WaitForCount("Your balance", kTagsEach, 60s));
  }
  setup.clock.Set(kStart + 180);
  std::size_t lines = 0;
  std::int64_t charged = 0;
  for (std::size_t i = 0; i < terminals.size(); ++i) {
    EXPECT_EQ(terminals[i]->Wait(), 0);
    EXPECT_EQ(CountOf(terminals[i]->out(), "Tagging is processed competely."),
              static_cast<std::size_t>(kTagsEach));
    const int choice = choices[i][0] - '0';
    const LogCheck log = CheckLog(setup.dir.Read(LogNameOf(choice)), choice * 1111, kCardId);
    EXPECT_EQ(log.fault, "") << LogNameOf(choice);
    charged += log.charges;
    lines += log.lines;
  }
  EXPECT_EQ(lines, 3u * kTagsEach);
  const auto card = ParseCardLine(setup.dir.Read("usercard.txt"));
  ASSERT_TRUE(card);
  EXPECT_EQ(kOpening - card->balance, charged);
  EXPECT_GT(charged, 0);
}

}  // namespace
