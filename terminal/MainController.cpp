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

void Nap() {
  timespec pause{0, 200 * 1000 * 1000};
  nanosleep(&pause, nullptr);  // a signal cuts it short, which is what the loop wants
}

pid_t WaitForChild(pid_t child, int options) {
  pid_t done = 0;
  do {
    done = waitpid(child, nullptr, options);
  } while (done < 0 && errno == EINTR);
  return done;
}

// Waits out the service period (or a stop request) without spinning, then stops the menu
// process between tags: the card lock is free only while it waits for a choice.
void Supervise(pid_t child, std::int64_t start) {
  bool alive = true;
  while (!stop_requested && CurrentTime() - start < kServicePeriodSeconds) {
    Nap();
    if (alive && WaitForChild(child, WNOHANG) == child) alive = false;
  }
  const int lock = LockFile(DataPath(kCardLockName));
  if (!stop_requested) {
    std::printf("3 minutes over!\n");
    std::fflush(stdout);
  }
  if (alive) {
    kill(child, SIGKILL);
    WaitForChild(child, 0);
  }
  UnlockFile(lock);
}

}  // namespace

void MainController() {
  DBInit();
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
