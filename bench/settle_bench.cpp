// SPDX-License-Identifier: Apache-2.0
// Times whole runs of the real settle program on generated logs of 1M and 4M entries, on one
// processor and on two, side by side with awk summing one field and `wc -l` counting the lines
// of the same six files, and reads each settle run's peak memory. The targets are printed
// beside the figures: settle at least 5x faster than awk, at most 4x the time of wc -l, peak
// memory under 40 bytes per entry, and 4M entries at most 4.4x the time of 1M. Then the time a
// terminal takes from its start to its tag menu, alone and beside a settlement that reads the
// logs (at most 50 ms), since the settlement holds the card lock only while it opens them.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "settle_bench.h"

namespace {

constexpr int kRepetitions = 15;
constexpr double kMaxBytesPerEntry = 40;
constexpr double kMinAwkRatio = 5;
constexpr double kMaxWcRatio = 4;
constexpr double kMaxGrowth = 4.4;
constexpr double kMaxTerminalStartMs = 50;
const char* const kLogs[] = {"1111.txt", "2222.txt", "3333.txt",
                             "4444.txt", "5555.txt", "6666.txt"};

std::string ReadAll(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// A program under measurement: how to run it, where, on how many processors, what it must
// print, and the figures of its runs.
struct Contender {
  std::vector<std::string> argv;
  std::string workdir;
  int processors = 0;
  std::string must_print;
  std::vector<double> seconds;
  long peak_rss_kib = 0;
};

// One run, which also warms the page cache; says so when the program printed a wrong result.
void Check(const Contender& c, const std::string& out_path) {
  const ChildRun run = RunChild(c.argv, c.workdir, out_path, c.processors);
  const std::string out = ReadAll(out_path);
  if (run.status != 0 || out.find(c.must_print) == std::string::npos) {
    std::fprintf(stderr, "settle_bench: %s printed a wrong result:\n%s\n", c.argv[0].c_str(),
                 out.c_str());
  }
}

void RunOnce(Contender& c, const std::string& out_path) {
  const ChildRun run = RunChild(c.argv, c.workdir, out_path, c.processors);
  c.seconds.push_back(run.seconds);
  c.peak_rss_kib = std::max(c.peak_rss_kib, run.peak_rss_kib);
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

// Medians of one size, in milliseconds, and settle's largest peak memory.
struct Figures {
  std::size_t entries = 0;
  double settle2 = 0, settle1 = 0, awk = 0, wc = 0;
  long peak_rss_kib = 0;
  double terminal_alone = 0, terminal_beside = 0;  // from its start to its tag menu
};

// The median time a terminal takes to show its tag menu, alone or beside a settlement
// (|settle| set). Its start empties the log of terminal 1, which is put back before each run.
// Runs that did not end beside a running settlement do not count.
double MedianTerminalStart(const BenchLogs& logs, const std::string& settle) {
  namespace fs = std::filesystem;
  const fs::path log = fs::path(logs.root) / "1111.txt";
  const fs::path kept = fs::path(logs.root) / "1111.txt.kept";
  fs::copy_file(log, kept, fs::copy_options::overwrite_existing);
  std::vector<double> ms;
  for (int i = 0; i < kRepetitions; ++i) {
    fs::copy_file(kept, log, fs::copy_options::overwrite_existing);
    const double run = TerminalStart(TERMINAL_BIN, settle, logs.root + "/a/b");
    if (run >= 0) ms.push_back(run);
  }
  fs::rename(kept, log);
  return ms.empty() ? -1 : Median(ms);
}

std::vector<std::string> WithLogs(std::vector<std::string> argv) {
  argv.insert(argv.end(), std::begin(kLogs), std::end(kLogs));
  return argv;
}

// The contenders take turns, so a busy machine slows all of them alike.
Figures MeasureSize(std::size_t entries) {
  const BenchLogs logs = WriteBenchLogs(entries);
  const std::string out_path = logs.root + "/out.txt";
  const std::string fee = "Overall Fee : " + std::to_string(logs.overall_fee) + " Won\n";
  std::vector<Contender> runs = {
      {{SETTLE_BIN}, logs.root + "/a/b", 2, fee, {}, 0},
      {{SETTLE_BIN}, logs.root + "/a/b", 1, fee, {}, 0},
      {WithLogs({"awk", "{s+=$4} END {print s}"}),
       logs.root,
       0,
       std::to_string(logs.additional_sum),
       {},
       0},
      {WithLogs({"wc", "-l"}), logs.root, 0, std::to_string(entries) + " total", {}, 0},
  };
  for (const Contender& c : runs) Check(c, out_path);
  for (int i = 0; i < kRepetitions; ++i) {
    for (Contender& c : runs) RunOnce(c, out_path);
  }
  Figures figures{entries,
                  Median(runs[0].seconds) * 1e3,
                  Median(runs[1].seconds) * 1e3,
                  Median(runs[2].seconds) * 1e3,
                  Median(runs[3].seconds) * 1e3,
                  std::max(runs[0].peak_rss_kib, runs[1].peak_rss_kib)};
  figures.terminal_alone = MedianTerminalStart(logs, "");
  figures.terminal_beside = MedianTerminalStart(logs, SETTLE_BIN);
  RemoveBenchLogs(logs);
  return figures;
}

double BytesPerEntry(const Figures& f) {
  return static_cast<double>(f.peak_rss_kib) * 1024 / static_cast<double>(f.entries);
}

void PrintRow(const Figures& f) {
  std::printf("%8zu %9.1f %9.1f %8.1f %7.1f %8.2fx %8.2fx %8.2fx %8.2fx %8.1f\n", f.entries,
              f.settle2, f.settle1, f.awk, f.wc, f.awk / f.settle2, f.awk / f.settle1,
              f.settle2 / f.wc, f.settle1 / f.wc, BytesPerEntry(f));
}

}  // namespace

int main() {
  std::printf(
      "whole runs on generated logs, median of %d, ms (settle on 2 and on 1 processor; "
      "awk {s+=$4} and wc -l over the same six files)\n\n",
      kRepetitions);
  std::printf("%8s %9s %9s %8s %7s %9s %9s %9s %9s %8s\n", "entries", "settle 2", "settle 1", "awk",
              "wc -l", "awk/s2", "awk/s1", "s2/wc", "s1/wc", "B/entry");
  std::vector<Figures> rows;
  for (const std::size_t entries : {1000000u, 4000000u}) {
    rows.push_back(MeasureSize(entries));
    PrintRow(rows.back());
  }
  const Figures& small = rows[0];
  const Figures& big = rows[1];
  std::printf("\ntargets (2 processors; 1 processor in brackets):\n");
  std::printf("  awk/settle >= %.0fx:   1M %.2fx (%.2fx)  4M %.2fx (%.2fx)\n", kMinAwkRatio,
              small.awk / small.settle2, small.awk / small.settle1, big.awk / big.settle2,
              big.awk / big.settle1);
  std::printf("  settle/wc -l <= %.0fx: 1M %.2fx (%.2fx)  4M %.2fx (%.2fx)\n", kMaxWcRatio,
              small.settle2 / small.wc, small.settle1 / small.wc, big.settle2 / big.wc,
              big.settle1 / big.wc);
  std::printf("  peak < %.0f B/entry:   1M %.1f  4M %.1f\n", kMaxBytesPerEntry,
              BytesPerEntry(small), BytesPerEntry(big));
  std::printf("  4M/1M <= %.1f:         %.2f (%.2f)\n", kMaxGrowth, big.settle2 / small.settle2,
              big.settle1 / small.settle1);
  std::printf(
      "  terminal start to tag menu beside a settlement <= %.0f ms: 1M %.1f  4M %.1f "
      "(alone: 1M %.1f  4M %.1f)\n",
      kMaxTerminalStartMs, small.terminal_beside, big.terminal_beside, small.terminal_alone,
      big.terminal_alone);
  return 0;
}
