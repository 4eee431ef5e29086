#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <ctime>

#include "Card.h"
#include "Clock.h"
#include "DataFiles.h"
#include "LogFile.h"
#include "Signals.h"
#include "Tariff.h"
#include "Terminal.h"

namespace {

volatile std::sig_atomic_t stop_requested = 0;

void RequestStop(int) { stop_requested = 1; }

// The supervisor ends the program on SIGINT, SIGTERM and SIGHUP, but only through its own
// orderly stop; the menu process goes back to the default actions and holds them back itself
// while a tag runs.
void SetStopHandlers(void (*handler)(int)) {
  struct sigaction action {};
  action.sa_handler = handler;
  sigemptyset(&action.sa_mask);
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) sigaction(sig, &action, nullptr);
}

// Between two readings of the clock: short enough that the end of the period is seen
// within a fraction of a second, long enough that an idle terminal costs next to nothing.
constexpr long kNapNanoseconds = 200'000'000L;

void Nap() {
  timespec pause{0, kNapNanoseconds};
  nanosleep(&pause, nullptr);  // a signal cuts it short, which is what the loop wants
}

void WaitForChild(pid_t child) {
  while (waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
  }
}

// Waits out the service period (or a stop request) without spinning, then stops the menu
// process between tags: the card lock is free only while it waits for a choice. The child is
// reaped only here, so its ID cannot pass to another process before the kill, even when it
// ended early.
void Supervise(pid_t child, std::int64_t start) {
  while (!stop_requested && CurrentTime() - start < kServicePeriodSeconds) Nap();
  const int lock = LockFile(DataPath(kCardLockName));
  if (!stop_requested) {
    std::printf("3 minutes over!\n");
    std::fflush(stdout);
  }
  kill(child, SIGKILL);
  WaitForChild(child);
  UnlockFile(lock);
}

// A terminal killed in the middle of a card write leaves its temporary file behind.
void CleanUpAfterKilledTerminals() {
  const int lock = LockFile(DataPath(kCardLockName));
  if (lock < 0) return;
  RemoveAbandonedCardWrites();
  UnlockFile(lock);
}

}  // namespace

void MainController() {
  DBInit();
  CleanUpAfterKilledTerminals();
  const std::int64_t start = CurrentTime();
  SetStopHandlers(RequestStop);
  std::fflush(stdout);
  const pid_t child = fork();
  if (child < 0) {
    std::printf("Terminal Start Error.\n");
    std::fflush(stdout);
    return;
  }
  if (child == 0) {
    SetStopHandlers(SIG_DFL);
    TagMenu();
  }
  Supervise(child, start);
}
