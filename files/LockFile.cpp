// SPDX-License-Identifier: Apache-2.0
// Taking a lock without waiting for ever: a process stopped or stuck while it holds a lock must
// not freeze every program that needs it, nor leave a person staring at a silent console.
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <string>

#include "DataFiles.h"

namespace {

using Clock = std::chrono::steady_clock;

// Tries are close together at first, so that a lock let go soon is taken soon, then further
// apart, so that a long wait costs next to nothing.
constexpr long kFirstNapNanoseconds = 1'000'000;
constexpr long kLongestNapNanoseconds = 8'000'000;

// The process holding a lock on the file |fd|, as /proc/locks tells; 0 when it does not.
long HolderOf(int fd) {
  struct stat file {};
  if (fstat(fd, &file) != 0) return 0;
  std::FILE* locks = std::fopen("/proc/locks", "re");
  if (locks == nullptr) return 0;
  long holder = 0;
  char line[256];
  while (holder == 0 && std::fgets(line, sizeof line, locks) != nullptr) {
    long pid = 0;
    unsigned major_id = 0, minor_id = 0;
    unsigned long inode = 0;
    // "1: FLOCK  ADVISORY  WRITE 1234 08:01:5678 0 EOF"; a waiter's line has "->" and no match.
    if (std::sscanf(line, "%*d: %*s %*s %*s %ld %x:%x:%lu", &pid, &major_id, &minor_id, &inode) ==
            4 &&
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

// Waits for the lock on |fd| within the bounds LockFile promises. 0 once it is held, otherwise
// -1 with errno set and, for a wait cut short, the detail said.
int TakeWithinBound(int fd, const std::string& path) {
  const auto start = Clock::now();
  long nap = kFirstNapNanoseconds;
  bool told = false;
  while (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    if (errno == EINTR) continue;
    if (errno != EWOULDBLOCK) return -1;
    const auto waited = Clock::now() - start;
    if (CtrlCPending()) {
      errno = EINTR;
      return -1;
    }
    if (waited >= std::chrono::seconds(kLockWaitSeconds)) {
      TellHeld(path, fd, "given up after " + std::to_string(kLockWaitSeconds) + " s");
      errno = ETIMEDOUT;
      return -1;
    }
    if (!told && waited >= std::chrono::seconds(kLockWaitNoticeSeconds)) {
      TellHeld(path, fd, "waiting up to " + std::to_string(kLockWaitSeconds) + " s");
      told = true;
    }
    const timespec pause{0, nap};
    nanosleep(&pause, nullptr);
    nap = std::min(2 * nap, kLongestNapNanoseconds);
  }
  return 0;
}

}  // namespace

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
