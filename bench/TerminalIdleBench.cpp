// SPDX-License-Identifier: Apache-2.0
// The CPU a terminal burns over one whole service period while nobody taps a card: the real
// program, both of its processes, idling at the tag menu. libfaketime runs the clock sixty times
// fast, so the period takes about three seconds; the CPU figure covers the whole process tree.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <chrono>
#include <string>

#include "Harness.h"

namespace {

double Seconds(const timeval& tv) {
  return static_cast<double>(tv.tv_sec) + static_cast<double>(tv.tv_usec) / 1e6;
}

void BM_IdleTerminal(benchmark::State& state) {
  for (auto _ : state) {
    const DataDir dir;
    dir.Write("usercard.txt", kOpeningCard);
    rusage before{}, after{};
    getrusage(RUSAGE_CHILDREN, &before);
    const auto start = std::chrono::steady_clock::now();
    Process terminal(
        TERMINAL_BIN,
        {dir.workdir(), nullptr, {std::string("LD_PRELOAD=") + FAKETIME_LIB, "FAKETIME=+0 x60"}});
    terminal.Write("1\n");  // and nothing more: the input stays open, the menu waits at its prompt
    const int status = terminal.Wait(std::chrono::seconds(60));
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    getrusage(RUSAGE_CHILDREN, &after);  // the terminal and the menu process it reaped
    // One menu and no more: the terminal idled at the prompt the whole period.
    if (status != 0 || !terminal.out().ends_with(kPeriodOver) ||
        CountOf(terminal.out(), kMenu) != 1) {
      state.SkipWithError("the terminal did not idle through its period");
      break;
    }
    state.SetIterationTime(wall);
    state.counters["user_s"] = Seconds(after.ru_utime) - Seconds(before.ru_utime);
    state.counters["sys_s"] = Seconds(after.ru_stime) - Seconds(before.ru_stime);
    state.counters["cpu_s"] = state.counters["user_s"] + state.counters["sys_s"];
    state.counters["wall_s"] = wall;
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
