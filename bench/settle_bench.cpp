// Times whole runs of the real settle program on generated logs of 250k, 500k and 1M entries,
// next to awk summing one field over the same six files, and reads each run's peak memory.
// The targets are printed beside the figures: settle at least twice as fast as awk, cost linear
// in the entries, peak memory under 80 bytes per entry.
#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "settle_bench.h"

namespace {

constexpr int kRepetitions = 7;
constexpr double kMaxBytesPerEntry = 80;
constexpr double kMinAwkRatio = 2;
const char* const kLogs[] = {"1111.txt", "2222.txt", "3333.txt",
                             "4444.txt", "5555.txt", "6666.txt"};

// Medians of wall and CPU time; the CPU time shows the program's own cost when other work on
// the machine stretches the wall time.
struct Figures {
  std::size_t entries = 0;
  double settle_seconds = 0;
  double awk_seconds = 0;
  double settle_cpu = 0;
  double awk_cpu = 0;
  long peak_rss_kib = 0;  // settle's, the largest of the repetitions
};

std::string ReadAll(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// A program under measurement: how to run it, where, and what it must print.
struct Contender {
  std::vector<std::string> argv;
  std::string workdir;
  std::string must_print;
  std::vector<double> seconds;
  std::vector<double> cpu_seconds;
  long peak_rss_kib = 0;
};

// One run, which also warms the page cache; says so when the program printed a wrong result.
void Check(const Contender& c, const std::string& out_path) {
  const ChildRun run = RunChild(c.argv, c.workdir, out_path);
  const std::string out = ReadAll(out_path);
  if (run.status != 0 || out.find(c.must_print) == std::string::npos) {
    std::fprintf(stderr, "settle_bench: %s printed a wrong result:\n%s\n", c.argv[0].c_str(),
                 out.c_str());
  }
}

void RunOnce(Contender& c, const std::string& out_path) {
  const ChildRun run = RunChild(c.argv, c.workdir, out_path);
  c.seconds.push_back(run.seconds);
  c.cpu_seconds.push_back(run.cpu_seconds);
  c.peak_rss_kib = std::max(c.peak_rss_kib, run.peak_rss_kib);
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

// The two programs take turns, so a busy machine slows both alike.
Figures MeasureSize(std::size_t entries, bool with_awk) {
  const BenchLogs logs = WriteBenchLogs(entries);
  const std::string out_path = logs.root + "/out.txt";
  Contender settle{{SETTLE_BIN},
                   logs.root + "/a/b",
                   "Overall Fee : " + std::to_string(logs.overall_fee) + " Won\n",
                   {},
                   {},
                   0};
  Contender awk{
      {"awk", "{s+=$4} END {print s}"}, logs.root, std::to_string(logs.additional_sum), {}, {}, 0};
  awk.argv.insert(awk.argv.end(), std::begin(kLogs), std::end(kLogs));
  Check(settle, out_path);
  if (with_awk) Check(awk, out_path);
  for (int i = 0; i < kRepetitions; ++i) {
    RunOnce(settle, out_path);
    if (with_awk) RunOnce(awk, out_path);
  }
  RemoveBenchLogs(logs);
  Figures figures;
  figures.entries = entries;
  figures.settle_seconds = Median(settle.seconds);
  figures.settle_cpu = Median(settle.cpu_seconds);
  figures.peak_rss_kib = settle.peak_rss_kib;
  if (with_awk) {
    figures.awk_seconds = Median(awk.seconds);
    figures.awk_cpu = Median(awk.cpu_seconds);
  }
  return figures;
}

void PrintRow(const Figures& f, long empty_rss_kib) {
  const double entries = static_cast<double>(f.entries);
  const double rss_bytes = static_cast<double>(f.peak_rss_kib) * 1024;
  const double table_bytes = static_cast<double>(f.peak_rss_kib - empty_rss_kib) * 1024;
  std::printf("%8zu %9.1f %8.1f %6.2fx %9.1f %8.1f %6.2fx %9.1f %8.1f %8.1f %8.1f\n", f.entries,
              f.settle_seconds * 1e3, f.awk_seconds * 1e3, f.awk_seconds / f.settle_seconds,
              f.settle_cpu * 1e3, f.awk_cpu * 1e3, f.awk_cpu / f.settle_cpu,
              f.settle_seconds * 1e9 / entries, rss_bytes / (1 << 20), rss_bytes / entries,
              table_bytes / entries);
}

}  // namespace

int main() {
  std::printf("settle on generated logs, median of %d runs (awk: {s+=$4} over the same files)\n",
              kRepetitions);
  const long empty_rss = MeasureSize(0, false).peak_rss_kib;
  std::printf("peak memory of a run on six empty logs: %.1f MiB\n\n",
              static_cast<double>(empty_rss) / 1024);
  std::printf("%8s %9s %8s %7s %9s %8s %7s %9s %8s %8s %8s\n", "entries", "settle ms", "awk ms",
              "ratio", "cpu ms", "awk cpu", "ratio", "ns/entry", "peak MiB", "B/entry",
              "B/e>empty");
  std::vector<Figures> rows;
  for (const std::size_t entries : {250000u, 500000u, 1000000u}) {
    rows.push_back(MeasureSize(entries, true));
    PrintRow(rows.back(), empty_rss);
  }
  // Doubling the entries must not more than double the time: a cost that grew faster than the
  // logs (a table copied as it grows, a quadratic scan) shows here first.
  const Figures& big = rows.back();
  std::printf("\ntargets and figures:\n");
  std::printf("  awk/settle at least %.0fx:        wall %.2fx %.2fx %.2fx  cpu %.2fx %.2fx %.2fx\n",
              kMinAwkRatio, rows[0].awk_seconds / rows[0].settle_seconds,
              rows[1].awk_seconds / rows[1].settle_seconds, big.awk_seconds / big.settle_seconds,
              rows[0].awk_cpu / rows[0].settle_cpu, rows[1].awk_cpu / rows[1].settle_cpu,
              big.awk_cpu / big.settle_cpu);
  std::printf("  linear, time per doubling <= 2:  500k/250k %.2f  1M/500k %.2f\n",
              rows[1].settle_seconds / rows[0].settle_seconds,
              big.settle_seconds / rows[1].settle_seconds);
  std::printf("  peak under %.0f B/entry:          1M: %.1f\n", kMaxBytesPerEntry,
              static_cast<double>(big.peak_rss_kib) * 1024 / static_cast<double>(big.entries));
  return 0;
}
