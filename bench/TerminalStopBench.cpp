// SPDX-License-Identifier: Apache-2.0
// How long the terminal takes to end once its service period is over, until every one of its
// processes is gone: with a console that reads, with one that stopped reading (a pipe that
// nobody reads, full), and on a slow disk (strace holds every sync back 150 ms) with a tag
// under way at the end. The clock is frozen by libfaketime and moved past the period.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <string>
#include <thread>
#include <vector>

#include "BenchTerminal.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::int64_t kStart = 1417849509;  // 2014-12-06 07:05:09 UTC
constexpr std::int64_t kServicePeriodSeconds = 180;
constexpr int kWrongChoices = 2000;  // far more output than a pipe holds
constexpr int kSlowTags = 20;        // more than a slow disk gets through before the end
constexpr const char* kStrace = "/usr/bin/strace";
constexpr const char* kSlowSyncs = "-einject=fsync,fdatasync:delay_exit=150000";

// What the console and the disk do while the period ends.
enum Scene { kReadingConsole = 0, kStalledConsole = 1, kSlowDisk = 2 };

// Freezes the terminal's clock at |seconds|; replaced by rename, so never read half written.
void SetClock(const std::string& path, std::int64_t seconds) {
  const auto when = static_cast<std::time_t>(seconds);
  std::tm utc{};
  gmtime_r(&when, &utc);
  char text[64];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S\n", &utc);
  if (std::FILE* out = std::fopen((path + ".new").c_str(), "w")) {
    std::fputs(text, out);
    std::fclose(out);
  }
  std::rename((path + ".new").c_str(), path.c_str());
}

// Reads |fd| until |text| has come (or, for an empty |text|, until its end); false after 10 s.
bool ReadUntil(int fd, const std::string& text) {
  const auto deadline = Clock::now() + std::chrono::seconds(10);
  std::string seen;
  char buffer[4096];
  while (text.empty() || seen.find(text) == std::string::npos) {
    pollfd ready{fd, POLLIN, 0};
    if (Clock::now() >= deadline || poll(&ready, 1, 100) < 0) return false;
    if ((ready.revents & (POLLIN | POLLHUP)) == 0) continue;
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n <= 0) return text.empty() && n == 0;
    seen.append(buffer, static_cast<std::size_t>(n));
  }
  return true;
}

// Reaps |pid| within 10 s, or stops its whole group.
bool Reap(pid_t pid) {
  for (int tries = 0; tries < 10'000; ++tries) {
    if (waitpid(pid, nullptr, WNOHANG) == pid) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  kill(-pid, SIGKILL);
  waitpid(pid, nullptr, 0);
  return false;
}

// Starts the terminal as StartTerminal does, but under strace, which delays every sync.
pid_t StartOnSlowDisk(const std::string& workdir, int in, int out,
                      const std::vector<std::string>& env) {
  // Only the syncs stop for strace.
  std::vector<std::string> args = {
      kStrace,    "-fqq",      "-o/dev/null", "--seccomp-bpf", "-etrace=fsync,fdatasync",
      kSlowSyncs, TERMINAL_BIN};
  std::vector<char*> argv, envp;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  for (const std::string& entry : env) envp.push_back(const_cast<char*>(entry.c_str()));
  envp.push_back(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    setpgid(0, 0);
    if (dup2(in, STDIN_FILENO) < 0 || dup2(out, STDOUT_FILENO) < 0 || chdir(workdir.c_str()) != 0) {
      _exit(127);
    }
    execve(kStrace, argv.data(), envp.data());
    _exit(127);
  }
  return pid;
}

// Brings the console and the disk into |scene| before the end of the period.
bool SetTheScene(Scene scene, int in, int out) {
  if (scene == kStalledConsole) {
    std::string wrong;
    for (int i = 0; i < kWrongChoices; ++i) wrong += "3\n";
    const bool ok = write(in, wrong.data(), wrong.size()) == static_cast<ssize_t>(wrong.size());
    std::this_thread::sleep_for(std::chrono::seconds(1));  // the console pipe fills up
    return ok;
  }
  if (scene == kSlowDisk) {
    std::string tags;
    for (int i = 0; i < kSlowTags; ++i) tags += "1\n";
    // The end comes right after a result: the next tag has just begun its syncs.
    return write(in, tags.data(), tags.size()) == static_cast<ssize_t>(tags.size()) &&
           ReadUntil(out, "Your balance");
  }
  return true;
}

// Seconds from the end of the period to the end of the last process; negative on failure.
double MeasureStop(Scene scene) {
  const BenchDir dir;
  const std::string clock = dir.Path("clock");
  SetClock(clock, kStart);
  int in[2], out[2];
  if (!dir.ready() || pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0) return -1;
  const std::vector<std::string> env = FakeClockEnvironment(
      {"FAKETIME_TIMESTAMP_FILE=" + clock, "FAKETIME_NO_CACHE=1", "DONT_FAKE_MONOTONIC=1"});
  const pid_t pid = scene == kSlowDisk ? StartOnSlowDisk(dir.workdir(), in[0], out[1], env)
                                       : StartTerminal(dir.workdir(), in[0], out[1], env);
  close(in[0]);
  close(out[1]);
  bool ok = pid > 0 && write(in[1], "1\n", 2) == 2 && ReadUntil(out[0], "| 2.Get off |") &&
            SetTheScene(scene, in[1], out[0]);
  // Right after the menu, and a whole second later, the supervisor has just begun a nap: the
  // end is seen as late as it can be, so the figure is the worst case.
  SetClock(clock, kStart + kServicePeriodSeconds);
  const auto end_of_period = Clock::now();
  if (ok && scene != kStalledConsole) ok = ReadUntil(out[0], "");
  ok = pid > 0 && Reap(pid) && ok && kill(-pid, 0) != 0;  // no process of the group is left
  const double seconds = std::chrono::duration<double>(Clock::now() - end_of_period).count();
  for (int fd : {in[1], out[0]}) close(fd);
  return ok ? seconds : -1;
}

void BM_PeriodEnd(benchmark::State& state) {
  const auto scene = static_cast<Scene>(state.range(0));
  if (scene == kSlowDisk && access(kStrace, X_OK) != 0) {
    state.SkipWithError("strace is missing");
    return;
  }
  for (auto _ : state) {
    const double seconds = MeasureStop(scene);
    if (seconds < 0) {
      state.SkipWithError("the terminal did not start, or did not end with every process");
      break;
    }
    state.SetIterationTime(seconds);
  }
}

// Argument 0: a console that reads; 1: a console that stopped reading; 2: a slow disk.
BENCHMARK(BM_PeriodEnd)
    ->Arg(kReadingConsole)
    ->Arg(kStalledConsole)
    ->Arg(kSlowDisk)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(1)
    ->Repetitions(5)
    ->ReportAggregatesOnly();

}  // namespace
