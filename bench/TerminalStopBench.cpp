// How long the terminal takes to end once its service period is over, until every one of its
// processes is gone: with a console that reads, and with one that stopped reading (a pipe
// that nobody reads, full). The clock is frozen by libfaketime and moved past the period.
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

#include "BenchTerminal.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::int64_t kStart = 1417849509;  // 2014-12-06 07:05:09 UTC
constexpr std::int64_t kServicePeriodSeconds = 180;
constexpr int kWrongChoices = 2000;  // far more output than a pipe holds

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

// Seconds from the end of the period to the end of the last process; negative on failure.
double MeasureStop(bool stalled) {
  const BenchDir dir;
  const std::string clock = dir.Path("clock");
  SetClock(clock, kStart);
  int in[2], out[2];
  if (!dir.ready() || pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0) return -1;
  const pid_t pid =
      StartTerminal(dir.workdir(), in[0], out[1],
                    FakeClockEnvironment({"FAKETIME_TIMESTAMP_FILE=" + clock, "FAKETIME_NO_CACHE=1",
                                          "DONT_FAKE_MONOTONIC=1"}));
  close(in[0]);
  close(out[1]);
  bool ok = pid > 0 && write(in[1], "1\n", 2) == 2 && ReadUntil(out[0], "| 2.Get off |");
  if (ok && stalled) {
    std::string wrong;
    for (int i = 0; i < kWrongChoices; ++i) wrong += "3\n";
    ok = write(in[1], wrong.data(), wrong.size()) == static_cast<ssize_t>(wrong.size());
    std::this_thread::sleep_for(std::chrono::seconds(1));  // the console pipe fills up
  }
  // Right after the menu, and a whole second later, the supervisor has just begun a nap: the
  // end is seen as late as it can be, so the figure is the worst case.
  SetClock(clock, kStart + kServicePeriodSeconds);
  const auto end_of_period = Clock::now();
  if (ok && !stalled) ok = ReadUntil(out[0], "");
  ok = pid > 0 && Reap(pid) && ok && kill(-pid, 0) != 0;  // no process of the group is left
  const double seconds = std::chrono::duration<double>(Clock::now() - end_of_period).count();
  for (int fd : {in[1], out[0]}) close(fd);
  return ok ? seconds : -1;
}

void BM_PeriodEnd(benchmark::State& state) {
  for (auto _ : state) {
    const double seconds = MeasureStop(state.range(0) == 1);
    if (seconds < 0) {
      state.SkipWithError("the terminal did not start, or did not end with every process");
      break;
    }
    state.SetIterationTime(seconds);
  }
}

// Argument 0: a console that reads; 1: a console that stopped reading.
BENCHMARK(BM_PeriodEnd)
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(1)
    ->Repetitions(5)
    ->ReportAggregatesOnly();

}  // namespace
