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
#include <csignal>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "DataFiles.h"

namespace {

// How often a wait looks at its bounds and at a Ctrl-C.
constexpr long kTickMicroseconds = 50'000;

// The whitespace-separated words of |line|.
std::vector<std::string_view> Words(std::string_view line) {
  std::vector<std::string_view> words;
  for (std::size_t at = line.find_first_not_of(" \t\n"); at != std::string_view::npos;) {
    const std::size_t end = std::min(line.find_first_of(" \t\n", at), line.size());
    words.push_back(line.substr(at, end - at));
    at = line.find_first_not_of(" \t\n", end);
  }
  return words;
}

// Takes a number in |base| and the |separator| after it (none at the end) from |text|.
template <typename T>
bool TakeField(std::string_view& text, T& out, int base, char separator) {
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out, base);
  const auto used = static_cast<std::size_t>(end - text.data());
  if (ec != std::errc() || (used < text.size() && *end != separator)) return false;
  text.remove_prefix(std::min(used + 1, text.size()));
  return true;
}

// The process holding a lock on the file |fd|, as /proc/locks tells; 0 when it does not.
// A holder's line: "1: FLOCK  ADVISORY  WRITE 1234 08:01:5678 0 EOF"; a waiter's has "->".
long HolderOf(int fd) {
  struct stat file {};
  if (fstat(fd, &file) != 0) return 0;
  std::FILE* locks = std::fopen("/proc/locks", "re");
  if (locks == nullptr) return 0;
  long holder = 0;
  char line[256];
  while (holder == 0 && std::fgets(line, sizeof line, locks) != nullptr) {
    const auto words = Words(line);
    if (words.size() < 6 || words[1] == "->") continue;
    std::string_view pid_text = words[4], id = words[5];
    long pid = 0;
    unsigned major_id = 0, minor_id = 0;
    unsigned long inode = 0;
    if (TakeField(pid_text, pid, 10, ' ') && TakeField(id, major_id, 16, ':') &&
        TakeField(id, minor_id, 16, ':') && TakeField(id, inode, 10, ' ') &&
        makedev(major_id, minor_id) == file.st_dev && inode == file.st_ino) {
      holder = pid;
    }
  }
  std::fclose(locks);
  return holder;
}

// Says on standard error that |path| is held, by whom where known, and |what| is done about it.
void TellHeld(const std::string& path, int fd, const std::string& what) {
  const long holder = HolderOf(fd);
  std::string by = "another process";
  if (holder > 0) by = "process " + std::to_string(holder);
  std::fprintf(stderr, "%s: %s: held by %s; %s\n", program_invocation_short_name, path.c_str(),
               by.c_str(), what.c_str());
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
  setitimer(ITIMER_REAL, &old_timer, nullptr);
  sigprocmask(SIG_SETMASK, &old_mask, nullptr);
  sigaction(SIGALRM, &old_action, nullptr);
  errno = saved;
  return rc;
}

// Takes the lock on |fd| within the bounds LockFile promises. 0 once it is held, otherwise -1
// with errno set and, for a wait given up, the detail said.
int TakeWithinBound(int fd, const std::string& path) {
  int rc = 0;
  while ((rc = flock(fd, LOCK_EX | LOCK_NB)) != 0 && errno == EINTR) {
  }
  return rc == 0 || errno != EWOULDBLOCK ? rc : WaitWithTicks(fd, path);
}

}  // namespace

int LockOpenFile(int fd, const std::string& path) {
  const int rc = TakeWithinBound(fd, path);
  if (rc != 0 && errno != ETIMEDOUT) ReportFileError(path);
  return rc;
}

int LockFile(const std::string& path, bool wait) {
  bool writable = false;  // a lock needs no more than reading
  const int fd = OpenOwnFile(path, true, writable);
  if (fd < 0) return -1;
  int rc = 0;
  if (wait) {
    rc = TakeWithinBound(fd, path);
  } else {
    while ((rc = flock(fd, LOCK_EX | LOCK_NB)) != 0 && errno == EINTR) {
    }
  }
  if (rc != 0) {
    const int saved = errno;
    if (saved != EWOULDBLOCK && saved != ETIMEDOUT) ReportFileError(path);
    close(fd);
    errno = saved;
    return -1;
  }
  return fd;
}

void UnlockFile(int fd) { CloseFile(fd); }
