// SPDX-License-Identifier: Apache-2.0
// Taking a lock without waiting for ever: a process stopped or stuck while it holds a lock must
// not freeze every program that needs it, nor leave a person staring at a silent console.
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <string>

#include "DataFiles.h"

namespace {

// How often a wait looks at its bounds and at a Ctrl-C.
constexpr long kTickMicroseconds = 50'000;

// The process holding a lock on the file |fd|, as /proc/locks tells; 0 when it does not. A
// holder's line names it before the file's device and inode ("1: FLOCK  ADVISORY  WRITE 1234
// 08:01:5678 0 EOF"); a waiter's line has "->" and is passed over.
long HolderOf(int fd) {
  struct stat file {};
  if (fstat(fd, &file) != 0) return 0;
  char id[64];
  std::snprintf(id, sizeof id, " %02x:%02x:%lu ", major(file.st_dev), minor(file.st_dev),
                static_cast<unsigned long>(file.st_ino));
  std::ifstream locks("/proc/locks");
  for (std::string line; std::getline(locks, line);) {
    const std::size_t at = line.find(id);
    if (at == std::string::npos || at == 0 || line.find("->") != std::string::npos) continue;
    const std::size_t from = line.rfind(' ', at - 1) + 1;
    long pid = 0;
    if (std::from_chars(line.data() + from, line.data() + at, pid).ec == std::errc()) return pid;
  }
  return 0;
}

// Says on standard error that |path| is held, by whom where known, and |what| is done about it.
void TellHeld(const std::string& path, int fd, const std::string& what) {
  const long holder = HolderOf(fd);
  const std::string by = holder > 0 ? "process " + std::to_string(holder) : "another process";
  ReportFileProblem(path, "held by " + by + "; " + what);
  // Out at once, even where standard error is held back: nothing is locked while waiting.
  std::fflush(stderr);
}

bool CtrlCPending() {
  sigset_t pending;
  return sigpending(&pending) == 0 && sigismember(&pending, SIGINT) == 1;
}

// Set by the interval timer's signal: it only wakes a wait in flock.
volatile sig_atomic_t ticked = 0;
void Tick(int) { ticked = 1; }

// Puts back the interval timer |old| that a wait begun at |begun| took over: an armed one with
// its time left less the wait, or to fire at once when the wait has used that up.
void RestoreTimer(itimerval old, std::chrono::steady_clock::time_point begun) {
  const auto spent = std::chrono::steady_clock::now() - begun;
  const long long left = old.it_value.tv_sec * 1'000'000LL + old.it_value.tv_usec;
  const long long rest =
      std::max(1LL, left - std::chrono::duration_cast<std::chrono::microseconds>(spent).count());
  const auto seconds = static_cast<time_t>(rest / 1'000'000);
  if (left > 0) old.it_value = {seconds, static_cast<suseconds_t>(rest % 1'000'000)};
  setitimer(ITIMER_REAL, &old, nullptr);
}

// Waits in flock, which takes the lock the moment its holder lets go, woken every tick of a
// real-time interval timer to look at the bounds. The ticks, not the clock, measure the wait,
// so a clock set by hand (or by a test) neither stretches nor cuts it.
int WaitWithTicks(int fd, const std::string& path) {
  struct sigaction tick {
  }, old_action{};
  tick.sa_handler = Tick;  // without SA_RESTART, so that a tick ends the flock with EINTR
  sigemptyset(&tick.sa_mask);
  sigaction(SIGALRM, &tick, &old_action);
  sigset_t alarm_set, old_mask;
  sigemptyset(&alarm_set);
  sigaddset(&alarm_set, SIGALRM);
  sigprocmask(SIG_UNBLOCK, &alarm_set, &old_mask);
  const itimerval every{{0, kTickMicroseconds}, {0, kTickMicroseconds}};
  itimerval old_timer{};
  const auto begun = std::chrono::steady_clock::now();
  setitimer(ITIMER_REAL, &every, &old_timer);
  constexpr long kTicksASecond = 1'000'000 / kTickMicroseconds;
  int rc = 0;
  for (long ticks = 0; (rc = flock(fd, LOCK_EX)) != 0 && errno == EINTR; ++ticks) {
    if (CtrlCPending()) break;
    if (ticks == kLockWaitNoticeSeconds * kTicksASecond) {
      TellHeld(path, fd, "waiting up to " + std::to_string(kLockWaitSeconds) + " s");
    }
    if (ticks >= kLockWaitSeconds * kTicksASecond) {
      TellHeld(path, fd, "given up after " + std::to_string(kLockWaitSeconds) + " s");
      errno = ETIMEDOUT;
      break;
    }
  }
  const int saved = errno;
  const itimerval stopped{};  // first, so that no tick reaches the handler put back
  setitimer(ITIMER_REAL, &stopped, nullptr);
  sigprocmask(SIG_SETMASK, &old_mask, nullptr);
  sigaction(SIGALRM, &old_action, nullptr);
  RestoreTimer(old_timer, begun);  // last, so that one due at once reaches that handler
  errno = saved;
  return rc;
}

// Takes the lock on |fd| when nobody holds it: 0, or -1 with errno set (EWOULDBLOCK: held).
int TryLock(int fd) {
  int rc = 0;
  while ((rc = flock(fd, LOCK_EX | LOCK_NB)) != 0 && errno == EINTR) {
  }
  return rc;
}

// Takes the lock on |fd|, waiting within the bounds LockFile promises. 0 once held; -1 otherwise,
// the detail said but for a wait given up, which WaitWithTicks has said.
int TakeWithinBound(int fd, const std::string& path) {
  int rc = TryLock(fd);
  if (rc != 0 && errno == EWOULDBLOCK) rc = WaitWithTicks(fd, path);
  if (rc != 0 && errno != ETIMEDOUT) ReportFileError(path);
  return rc;
}

}  // namespace

int LockFile(const std::string& path, bool wait) {
  bool writable = false;  // a lock needs no more than reading
  const int fd = OpenOwnFile(path, true, writable);
  if (fd < 0) return -1;
  if ((wait ? TakeWithinBound(fd, path) : TryLock(fd)) == 0) return fd;
  if (!wait && errno != EWOULDBLOCK) ReportFileError(path);
  CloseFile(fd);
  return -1;
}
