#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <ctime>

#include "CardCommit.h"
#include "Clock.h"
#include "DataFiles.h"
#include "LogFile.h"
#include "Tariff.h"
#include "Terminal.h"

namespace {

volatile std::sig_atomic_t stop_requested = 0;

void RequestStop(int) { stop_requested = 1; }

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
constexpr long kNapNanoseconds = 200'000'000L;
// How long the menu process may take to finish the tag under way and show its result once it
// is asked to stop; past it, it is stuck at a console that does not read, and is killed (the
// card commit makes a kill safe for the files at any moment).
constexpr int kGraceSteps = 40;
constexpr long kGraceStepNanoseconds = 10'000'000L;
// How long the last line may wait for a console that does not read.
constexpr suseconds_t kLastLineMicroseconds = 50'000;

void Nap(long nanoseconds) {
  timespec pause{0, nanoseconds};
  nanosleep(&pause, nullptr);  // a signal cuts it short, which is what the loops want
}

// Reaps |child| if it ends within the grace; false if it is still running.
bool EndsWithinGrace(pid_t child) {
  for (int step = 0; step < kGraceSteps; ++step) {
    if (waitpid(child, nullptr, WNOHANG) == child) return true;
    Nap(kGraceStepNanoseconds);
  }
  return waitpid(child, nullptr, WNOHANG) == child;
}

void WaitForChild(pid_t child) {
  while (waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
  }
}

// Writes the period's last line if the console takes it at once or soon: an alarm cuts a
// write to a console that does not read short, and a console that is gone only fails it.
void PrintLastLine() {
  SetHandler(SIGALRM, WakeUp);
  itimerval bound{};
  bound.it_value.tv_usec = kLastLineMicroseconds;
  setitimer(ITIMER_REAL, &bound, nullptr);
  dprintf(STDOUT_FILENO, "3 minutes over!\n");
  bound.it_value.tv_usec = 0;
  setitimer(ITIMER_REAL, &bound, nullptr);
}

// Waits out the service period (or a stop request) without spinning, then asks the menu
// process to stop, which it does between tags, and kills it when it does not within the grace.
// The child is reaped only here, so its ID cannot pass to another process before a kill, even
// when it ended early.
void Supervise(pid_t child, std::int64_t start) {
  while (!stop_requested && CurrentTime() - start < kServicePeriodSeconds) Nap(kNapNanoseconds);
  kill(child, SIGTERM);
  if (!EndsWithinGrace(child)) {
    kill(child, SIGKILL);
    WaitForChild(child);
  }
  if (!stop_requested) PrintLastLine();
}

// Empties this terminal's log, but only once a tag that a crash cut off has been completed or
// discarded: it may still owe this very log its line. False without the card lock: a log
// emptied then could lose a line another terminal's commit still owes it.
bool StartLog() {
  const int lock = LockCard();
  if (lock < 0) return false;
  DBInit();
  UnlockFile(lock);
  return true;
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
  // console that has gone away must not end it before it has stopped the menu process. The
  // menu process goes back to the default actions and holds them back itself while a tag runs.
  SetStopHandling(RequestStop, SIG_IGN);
  FlushConsole();
  const pid_t child = fork();
  if (child < 0) {
    std::printf("Terminal Start Error.\n");
    FlushConsole();
    return;
  }
  if (child == 0) {
    SetStopHandling(SIG_DFL, SIG_DFL);
    TagMenu(start);
  }
  Supervise(child, start);
}
