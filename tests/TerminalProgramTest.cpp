// SPDX-License-Identifier: Apache-2.0
// The terminal as a real program, its clock set by libfaketime: the tag menu until the end of
// the period, and a tag under way when the period ends or a stop comes (a stop signal, Ctrl-Z,
// the supervisor's death, a slow disk), a console that stops reading or goes away.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <csignal>
#include <fstream>
#include <thread>

#include <gtest/gtest.h>

#include "Card.h"
#include "Harness.h"

namespace {

using namespace std::chrono_literals;

TEST(TerminalProgram, ServesTheMenuUntilTheEndOfThePeriod) {
  Station setup;
  setup.dir.Write("6666.txt", "left by an earlier run\n");
  Process terminal(TERMINAL_BIN, setup.Options());
  terminal.Write("6\n3\nabc 1 1\n");  // a wrong choice, a word and the rest of its line
  std::string shown = std::string(kSelection) + kDateLine + kMenu;
  for (int i = 0; i < 2; ++i) shown += std::string("Wrong Input Error\n") + kDateLine + kMenu;
  ASSERT_TRUE(terminal.WaitForOutput(shown));
  std::this_thread::sleep_for(300ms);
  EXPECT_EQ(terminal.out(), shown);  // "1 1" went with "abc": no tag was made
  EXPECT_EQ(setup.dir.Read("6666.txt"), "");
  setup.clock.Set(kStart + 179);  // the period still runs: a tag is served
  std::this_thread::sleep_for(600ms);
  terminal.Write("1\n");
  ASSERT_TRUE(terminal.WaitForOutput(kChargedLine));
  // A choice read at 180 seconds is not served, even before the supervisor has seen the end.
  const pid_t menu = FirstChildOf(terminal.pid());
  terminal.Signal(SIGSTOP);
  setup.clock.Set(kStart + 180);
  terminal.Write("2\n");
  ASSERT_TRUE(WaitUntil([&] { return !IsRunning(menu); }));
  terminal.Signal(SIGCONT);
  EXPECT_EQ(terminal.Wait(), 0);
  EXPECT_TRUE(terminal.out().ends_with(std::string(kMenu) + kPeriodOver));
  EXPECT_EQ(CountOf(setup.dir.Read("6666.txt"), "\n"), 1u);
}

// At end of input the menu process ends and is reaped at once, not left a zombie, and the
// supervisor waits out the period; a console that went away ends nothing early either, and the
// menu process is stopped with the period, so a late choice charges nothing.
TEST(TerminalProgram, EndOfInputOrAClosedConsoleWaitsOutThePeriod) {
  for (const bool closed_output : {false, true}) {
    Station setup;
    Process terminal(TERMINAL_BIN, setup.Options());
    terminal.Write("1\n");
    ASSERT_TRUE(terminal.WaitForOutput(kMenu));
    closed_output ? terminal.CloseOutput() : terminal.CloseInput();
    EXPECT_TRUE(closed_output || WaitUntil([&] { return FirstChildOf(terminal.pid()) < 0; }));
    EXPECT_TRUE(IsRunning(terminal.pid()));
    setup.clock.Set(kStart + 180);
    EXPECT_EQ(terminal.Wait(), 0);
    EXPECT_FALSE(GroupIsAlive(terminal.pid()));
    terminal.Write("1\n");
    EXPECT_TRUE(closed_output ||
                terminal.out() == std::string(kSelection) + kDateLine + kMenu + kPeriodOver);
    EXPECT_EQ(setup.dir.Read("usercard.txt") + setup.dir.Read("1111.txt"), kCardLine);
  }
}

// A tag whose choice was read waits for the card lock another holds; then |stop| comes to the
// terminal's group. Every stop but Ctrl-C lets the tag complete and show its result: the end of
// the period, SIGTERM, SIGHUP, Ctrl-Z (the menu stops only once the result is out and the lock
// free), the supervisor's death (the next choice is then not served). A Ctrl-C ends a tag that
// still waits at once, as not done.
TEST(TerminalProgram, StopsWaitForTheTagUnderWay) {
  const std::string kSupervisorKilled = "kill", kPeriod = "end";
  for (const std::string& stop : {kPeriod, std::string("TERM"), std::string("HUP"),
                                  std::string("TSTP"), kSupervisorKilled, std::string("INT")}) {
    SCOPED_TRACE(stop);
    const int sig = stop == "TERM"   ? SIGTERM
                    : stop == "HUP"  ? SIGHUP
                    : stop == "TSTP" ? SIGTSTP
                                     : SIGINT;
    Station setup;
    Process terminal(TERMINAL_BIN, setup.Options());
    terminal.Write("2\n");
    ASSERT_TRUE(terminal.WaitForOutput(kMenu));
    const int lock =
        open(setup.dir.Path("usercard.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    flock(lock, LOCK_EX);
    terminal.Write("2\n");
    ASSERT_TRUE(WaitUntil([&] { return LockIsAwaited(setup.dir.Path("usercard.lock")); }));
    const pid_t menu = FirstChildOf(terminal.pid());
    if (stop == kPeriod) setup.clock.Set(kStart + 180);
    if (stop == kSupervisorKilled) terminal.Signal(SIGKILL);
    if (stop != kPeriod && stop != kSupervisorKilled) kill(-terminal.pid(), sig);
    // Asked to stop (by the supervisor at the end or at its death), the tag may go on.
    const int asked = stop == kPeriod || stop == kSupervisorKilled ? SIGTERM : sig;
    ASSERT_TRUE(stop == "INT" || WaitUntil([&] { return SignalIsPending(menu, asked); }));
    terminal.Write("1\n");  // typed after the stop: never served
    if (stop != "INT") close(lock);
    if (stop == "TSTP") {
      ASSERT_TRUE(terminal.WaitForOutput(kChargedLine));
      ASSERT_TRUE(WaitUntil([&] { return !SignalIsPending(menu, SIGTSTP); }));  // now it stops
      EXPECT_FALSE(LockIsHeld(setup.dir.Path("usercard.lock")));
      setup.clock.Set(kStart + 180);  // first: the choice typed meanwhile comes too late
      kill(-terminal.pid(), SIGCONT);
    }
    EXPECT_EQ(terminal.Wait(), stop == kSupervisorKilled ? 128 + SIGKILL : 0);
    ASSERT_TRUE(WaitUntil([&] { return !IsRunning(menu); }));
    if (stop == "INT") close(lock);
    const std::string& out = terminal.out();
    EXPECT_EQ(out.find(kPeriodOver) != std::string::npos, stop == kPeriod || stop == "TSTP");
    if (stop == "INT") {
      EXPECT_TRUE(out.ends_with("File Write Error.\n\n")) << out;  // Ctrl-C ends the line
      EXPECT_EQ(terminal.err(), "terminal: ../../usercard.lock: Interrupted system call\n");
      EXPECT_EQ(setup.dir.Read("usercard.txt") + setup.dir.Read("2222.txt"), kCardLine);
    } else {
      EXPECT_EQ(CountOf(out, kChargedLine), 1u) << out;
      EXPECT_EQ(CountOf(setup.dir.Read("2222.txt"), "\n"), 1u);
      EXPECT_EQ(ParseCardLine(setup.dir.Read("usercard.txt"))->termId, 2222);
    }
  }
}

// Whether process |pid| is stopped by a signal.
bool IsStopped(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  std::getline(stat, line);
  return line.rfind(") T") != std::string::npos && line.rfind(") T") == line.rfind(") ");
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
    if (slow_syncs) {
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
    ASSERT_TRUE(terminal.WaitForOutput("Your balance")) << terminal.out() << terminal.err();
    const std::string lock = setup.dir.Path("usercard.lock");
    const pid_t menu = FirstChildOf(terminal.pid());
    bool stopped_with_lock = false;  // stop it at a moment it holds the card lock
    for (int tries = 0; !slow_syncs && !stopped_with_lock && tries < 1000; ++tries) {
      kill(menu, SIGSTOP);
      ASSERT_TRUE(WaitUntil([&] { return IsStopped(menu); }));
      stopped_with_lock = LockIsHeld(lock);
      if (!stopped_with_lock) kill(menu, SIGCONT);
    }
    ASSERT_TRUE(slow_syncs ? WaitUntil([&] { return LockIsHeld(lock); }) : stopped_with_lock);
    setup.clock.Set(kStart + 180);
    if (!slow_syncs) {
      std::this_thread::sleep_for(300ms);  // well past the supervisor's grace
      kill(menu, SIGCONT);
    }
    EXPECT_EQ(terminal.Wait(), 0);
    const Shown shown = ShownCharges(terminal.out());
    const LogCheck log = CheckLog(setup.dir.Read("4444.txt"), 4444, kCardId);
    EXPECT_GE(shown.tags, 2u);  // one before the end, one under way at it
    EXPECT_EQ(log.lines, shown.tags);
    EXPECT_EQ(log.charges, shown.charges);
    EXPECT_EQ(20000 - ParseCardLine(setup.dir.Read("usercard.txt"))->balance, log.charges);
  }
}

// A console that stops reading holds up its own terminal only: another one tags on, and both
// end with the period.
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
  EXPECT_TRUE(other.out().ends_with(kPeriodOver));
  EXPECT_FALSE(GroupIsAlive(stalled.pid()));
  EXPECT_EQ(CountOf(setup.dir.Read("3333.txt"), "\n"), 2u);
  EXPECT_GT(CountOf(setup.dir.Read("6666.txt"), "\n"),
            100u);  // it tagged until its console was full
}

}  // namespace
