// SPDX-License-Identifier: Apache-2.0
// The CPU a terminal burns over one whole service period while nobody taps a card: the real
// program, both of its processes, idling at the tag menu. libfaketime runs the clock sixty times
// fast, so the period takes about three seconds; the CPU figure covers the whole process tree.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "BenchTerminal.h"

namespace {

constexpr std::string_view kPeriodOver = "3 minutes over!";
constexpr std::string_view kTagMenu = "| 1.Get on  |";
// Three minutes at sixty times take three seconds; far past that, the run is stuck.
constexpr int kGiveUpMilliseconds = 60'000;

struct IdleRun {
  std::string error;  // empty when the run went as a service period should
  double user_seconds = 0;
  double system_seconds = 0;
  double wall_seconds = 0;
};

// Reads |fd| to its end, which comes when the terminal and its menu process have both gone.
// Gives up after kGiveUpMilliseconds and stops the whole group.
bool ReadUntilEnd(int fd, pid_t group, std::string& output) {
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(kGiveUpMilliseconds);
  char buffer[4096];
  while (true) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    pollfd ready{fd, POLLIN, 0};
    const int polled = left.count() > 0 ? poll(&ready, 1, static_cast<int>(left.count())) : 0;
    if (polled < 0 && errno == EINTR) continue;
    if (polled <= 0) {
      kill(-group, SIGKILL);
      return false;
    }
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return n == 0;
    output.append(buffer, static_cast<std::size_t>(n));
  }
}

double Seconds(const timeval& tv) {
  return static_cast<double>(tv.tv_sec) + static_cast<double>(tv.tv_usec) / 1e6;
}

std::string CheckOutput(const std::string& output, int status) {
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return "the terminal did not exit cleanly";
  if (output.find(kPeriodOver) == std::string::npos) return "the period did not run out";
  // One menu and no more: the terminal idled at the prompt the whole period.
  const auto menu = output.find(kTagMenu);
  if (menu == std::string::npos || output.find(kTagMenu, menu + 1) != std::string::npos) {
    return "the terminal did not idle at the tag menu";
  }
  return {};
}

// Runs one service period of terminal 1 in |workdir| with nothing tapped after the selection,
// over the pipes |in| and |out|, and closes them. The input stays open until the terminal has
// exited, so the menu process waits at its prompt instead of ending at end of input.
IdleRun MeasurePeriod(const std::string& workdir, const int (&in)[2], const int (&out)[2]) {
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid =
      StartTerminal(workdir, in[0], out[1], FakeClockEnvironment({"FAKETIME=+0 x60"}));
  close(in[0]);
  close(out[1]);
  std::string output;
  const bool selected = pid > 0 && write(in[1], "1\n", 2) == 2;
  const bool ended = pid > 0 && ReadUntilEnd(out[0], pid, output);
  int status = 0;
  rusage usage{};
  while (pid > 0 && wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
  }
  const auto stop = std::chrono::steady_clock::now();
  close(in[1]);
  close(out[0]);
  if (pid <= 0 || !selected || !ended) return {"the terminal did not start or did not stop"};
  // wait4 counts the terminal and the menu process it reaped: the whole tree.
  return {CheckOutput(output, status), Seconds(usage.ru_utime), Seconds(usage.ru_stime),
          std::chrono::duration<double>(stop - start).count()};
}

IdleRun RunIdleTerminal() {
  const BenchDir dir;
  if (!dir.ready()) return {"cannot set up the data directory"};
  int in[2];
  int out[2];
  if (pipe2(in, O_CLOEXEC) != 0) return {"cannot make a pipe"};
  if (pipe2(out, O_CLOEXEC) != 0) {
    close(in[0]);
    close(in[1]);
    return {"cannot make a pipe"};
  }
  return MeasurePeriod(dir.workdir(), in, out);
}

void BM_IdleTerminal(benchmark::State& state) {
  if (std::string_view(FAKETIME_LIB).empty()) {
    state.SkipWithError("libfaketime was not found at build time");
    return;
  }
  for (auto _ : state) {
    const IdleRun run = RunIdleTerminal();
    if (!run.error.empty()) {
      state.SkipWithError(run.error.c_str());
      break;
    }
    state.SetIterationTime(run.wall_seconds);
    state.counters["cpu_s"] = run.user_seconds + run.system_seconds;
    state.counters["user_s"] = run.user_seconds;
    state.counters["sys_s"] = run.system_seconds;
    state.counters["wall_s"] = run.wall_seconds;
  }
}

// One period per repetition; the wall time is the manual time.
BENCHMARK(BM_IdleTerminal)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(1)
    ->Repetitions(3)
    ->ReportAggregatesOnly();

}  // namespace
