// SPDX-License-Identifier: Apache-2.0
#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <ctime>

#include "BookFiles.h"
#include "Clock.h"
#include "DataFiles.h"
#include "LogFile.h"
#include "Signals.h"
#include "Tariff.h"
#include "Terminal.h"

namespace {

volatile std::sig_atomic_t stop_requested = 0;

void RequestStop(int sig) { stop_requested = sig; }

// Only interrupts the write it was set up to bound.
void WakeUp(int) {}

void SetHandler(int sig, void (*handler)(int)) {
  struct sigaction action {};
  action.sa_handler = handler;
  sigemptyset(&action.sa_mask);
  sigaction(sig, &action, nullptr);  // no SA_RESTART: a signal cuts a wait or a write short
}

void SetStopHandling(void (*stop)(int), void (*broken_pipe)(int)) {
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) SetHandler(sig, stop);
  SetHandler(SIGPIPE, broken_pipe);
}

// Between two readings of the clock: short enough that the end of the period is seen within a
// fraction of a second, long enough that an idle terminal costs next to nothing.
constexpr int kNapMilliseconds = 200;
// How long a menu process that is past its books may take to show its result once it is asked
// to stop; past it, it is stuck at a console that does not read, and is killed: its tag is
// whole in the files, and a console that does not read would not show the result anyway.
constexpr int kConsoleGraceSteps = 10;
constexpr int kStepMilliseconds = 10;
// How long the last line may wait for a console that does not read.
constexpr suseconds_t kLastLineMicroseconds = 50'000;

// What the supervisor knows of the menu process's progress.
struct Progress {
  int fd = -1;              // read end of the progress pipe; -1 once the menu process is gone
  char stage = kAtConsole;  // the latest stage reported: at the menu, none is under way
};

// Waits up to |milliseconds| for news of the menu process (a signal cuts the wait short) and
// takes all that has come.
Progress Follow(Progress progress, int milliseconds) {
  pollfd ready{progress.fd, POLLIN, 0};
  if (poll(&ready, 1, milliseconds) <= 0) return progress;
  char news[256];
  while (true) {
    const ssize_t n = read(progress.fd, news, sizeof news);
    if (n > 0) {
      progress.stage = news[n - 1];
      continue;
    }
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) return progress;
    close(progress.fd);
    progress.fd = -1;
    return progress;
  }
}

// Whether |child| has ended, and is reaped now.
bool Reaped(pid_t child) {
  const pid_t done = waitpid(child, nullptr, WNOHANG);
  return done == child || (done < 0 && errno == ECHILD);
}

void WaitForChild(pid_t child) {
  while (waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
  }
}

// Asks the menu process to stop and waits for it: the tag under way finishes, however long its
// books take. Only once it has reported its books done, or none begun, may the grace run out
// and the kill strike.
void StopMenu(pid_t child, Progress progress) {
  kill(child, SIGTERM);
  int steps_at_console = 0;
  while (!Reaped(child)) {
    steps_at_console = progress.stage == kAtConsole ? steps_at_console + 1 : 0;
    if (steps_at_console > kConsoleGraceSteps) {
      kill(child, SIGKILL);
      WaitForChild(child);
      return;
    }
    progress = Follow(progress, kStepMilliseconds);
  }
}

// Writes the period's last line if the console takes it at once or soon: an alarm cuts a
// write to a console that does not read short, and a console that is gone only fails it.
void PrintLastLine(const char* line) {
  SetHandler(SIGALRM, WakeUp);
  itimerval bound{};
  bound.it_value.tv_usec = kLastLineMicroseconds;
  setitimer(ITIMER_REAL, &bound, nullptr);
  dprintf(STDOUT_FILENO, "%s", line);
  bound.it_value.tv_usec = 0;
  setitimer(ITIMER_REAL, &bound, nullptr);
}

// Waits out the service period (or a stop request) without spinning, following the menu
// process's progress meanwhile, then stops it. A menu process that ends early (end of input, a
// fatal error) closes its pipe and is reaped then, not left a zombie for the rest of the
// period; once reaped it is never signalled, so a kill cannot strike a process that took its
// ID.
void Supervise(pid_t child, int progress_fd, std::int64_t start) {
  Progress progress{progress_fd, kAtConsole};
  bool reaped = false;
  while (!stop_requested && CurrentTime() - start < kServicePeriodSeconds) {
    progress = Follow(progress, kNapMilliseconds);
    reaped = reaped || (progress.fd < 0 && Reaped(child));
  }
  if (!reaped) StopMenu(child, progress);
  // Ctrl-C leaves the console on the menu's line: end it, so the shell's prompt starts afresh.
  if (!stop_requested) PrintLastLine("3 minutes over!\n");
  if (stop_requested == SIGINT) PrintLastLine("\n");
}

// The menu process from its first moment: the stopping signals, held since before the fork,
// get their default actions, and the supervisor's death asks it to stop as the end of the
// period does. A supervisor that died before that was asked for is seen by the parent check.
[[noreturn]] void RunMenu(MenuPeriod period) {
  SetStopHandling(SIG_DFL, SIG_DFL);
  prctl(PR_SET_PDEATHSIG, SIGTERM);
  if (getppid() != period.supervisor) std::_Exit(0);
  HoldStoppingSignals(false);
  TagMenu(period);
}

// Empties this terminal's log, but only once a tag that a crash cut off has been put in place.
// False without the card lock or when the log could not be emptied: a log emptied without the
// lock could lose a line another terminal's commit still owes it, and one not emptied would mix
// this run's tags with an earlier run's.
bool StartLog() {
  HeldBooks books = LockBooks(kCardBooks);
  const bool ok = Held(books) && DBInit(books);
  UnlockBooks(books);
  return ok;
}

// Refuses the run before anything is emptied: another terminal serves this station, or the
// station or the card cannot be locked.
bool Refused(const StationLock& station) {
  if (station.running) {
    std::printf("Terminal Already Running.\n");
  } else if (station.fd < 0 || !StartLog()) {
    std::printf("File Write Error.\n");
  } else {
    return false;
  }
  FlushConsole();
  return true;
}

}  // namespace

void MainController() {
  // Held for the whole run, by the supervisor and the menu process alike; dropped by the kernel
  // when the last of them ends.
  if (Refused(LockStation())) return;
  const std::int64_t start = CurrentTime();
  // The supervisor stops on SIGINT, SIGTERM and SIGHUP only through its own orderly stop, and a
  // console that has gone away must not end it before it has stopped the menu process.
  SetStopHandling(RequestStop, SIG_IGN);
  int progress[2];
  const bool piped = pipe2(progress, O_CLOEXEC) == 0;
  FlushConsole();
  const pid_t supervisor = getpid();
  HoldStoppingSignals(true);  // until the menu process has its own handling
  const pid_t child = piped ? fork() : -1;
  if (child == 0) {
    close(progress[0]);
    RunMenu({start, supervisor, progress[1]});
  }
  HoldStoppingSignals(false);
  if (child < 0) {
    if (piped) {
      close(progress[0]);
      close(progress[1]);
    }
    std::printf("Terminal Start Error.\n");
    FlushConsole();
    return;
  }
  close(progress[1]);
  fcntl(progress[0], F_SETFL, O_NONBLOCK);
  Supervise(child, progress[0], start);
}
