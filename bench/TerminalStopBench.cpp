// SPDX-License-Identifier: Apache-2.0
// How long the terminal takes to end once its service period is over, until every one of its
// processes is gone: with a console that reads, with one that stopped reading (a pipe that
// nobody reads, full), and on a slow disk (strace holds every sync back 150 ms) with a tag
// under way at the end. The clock is frozen by libfaketime and moved past the period.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

#include "Harness.h"

namespace {

enum Scene { kReadingConsole = 0, kStalledConsole = 1, kSlowDisk = 2 };

// Seconds from the end of the period to the end of the last process; negative on failure.
double MeasureStop(Scene scene) {
  Station setup;
  ProcessOptions options = setup.Options();
  if (scene == kSlowDisk) {
    options.wrapper = {"/usr/bin/strace",
                       "-fqq",
                       "-o/dev/null",
                       "--seccomp-bpf",
                       "-etrace=fsync,fdatasync",
                       "-einject=fsync,fdatasync:delay_exit=150000"};
  }
  Process terminal(TERMINAL_BIN, options);
  terminal.Write("1\n");
  if (!terminal.WaitForOutput(kMenu)) return -1;
  if (scene == kStalledConsole) {
    terminal.StallOutput();
    for (int i = 0; i < 2000; ++i) terminal.Write("3\n");  // far more output than a pipe holds
    std::this_thread::sleep_for(std::chrono::seconds(1));  // the console pipe fills up
  } else if (scene == kSlowDisk) {
    for (int i = 0; i < 20; ++i) terminal.Write("1\n");  // more than a slow disk gets through
    // The end comes right after a result: the next tag has just begun its syncs.
    if (!terminal.WaitForOutput("Your balance")) return -1;
  }
  // Right after the menu, the supervisor has just begun a nap: the end is seen as late as it
  // can be, so the figure is the worst case.
  setup.clock.Set(kStart + kServicePeriod);
  const auto end_of_period = std::chrono::steady_clock::now();
  const bool ended = terminal.Wait(std::chrono::seconds(20)) == 0 && !GroupIsAlive(terminal.pid());
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - end_of_period).count();
  return ended ? seconds : -1;
}

void BM_PeriodEnd(benchmark::State& state) {
  const auto scene = static_cast<Scene>(state.range(0));
  if (scene == kSlowDisk && access("/usr/bin/strace", X_OK) != 0) {
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
