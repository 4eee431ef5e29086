// SPDX-License-Identifier: Apache-2.0
// A day of the real programs: restarts before, during and after a settlement, then settle
// --kept-runs, until every charged tag is credited exactly once.
#include <csignal>
#include <filesystem>
#include <memory>
#include <regex>

#include <gtest/gtest.h>

#include "Harness.h"

namespace {

namespace fs = std::filesystem;

// The sum of the N of every "WHAT : N Won" line of |text|.
long long Sum(const std::string& text, const std::string& what) {
  long long sum = 0;
  const std::regex line(what + " : (-?[0-9]+) Won");
  for (std::sregex_iterator at(text.begin(), text.end(), line), end; at != end; ++at)
    sum += std::stoll((*at)[1]);
  return sum;
}

TEST(KeptRuns, EveryChargedTagIsSettledOnceWhateverTheRestarts) {
  Station day;
  day.dir.Write("usercard.txt", kOpeningCard);
  const auto start = [&](int station, const std::string& tags) {
    auto terminal = std::make_unique<Process>(TERMINAL_BIN, day.Options());
    terminal->Write(std::to_string(station) + "\n" + tags);
    EXPECT_TRUE(
        terminal->WaitForOutput(kMenu, 0, std::chrono::seconds(20), CountOf(tags, "\n") + 1));
    return terminal;
  };
  const auto stop = [](std::unique_ptr<Process> terminal) {
    terminal->Signal(SIGTERM);
    EXPECT_EQ(terminal->Wait(), 0);
    EXPECT_EQ(terminal->err(), "");
  };
  ProcessOptions kept = day.Options();
  kept.wrapper = {"/bin/sh", "-c", "exec \"$0\" --kept-runs"};
  const auto settle = [&](const ProcessOptions& options) {
    const RunResult run = RunProgram(SETTLE_BIN, "", options);
    EXPECT_EQ(run.err, "");
    return Sum(run.out, "Overall Fee");
  };
  for (int station = 1; station <= 6; ++station) stop(start(station, ""));
  stop(start(1, "1\n"));
  stop(start(3, "2\n"));
  stop(start(1, ""));  // the get-on kept, not settled
  auto running = start(2, "1\n");
  const long long plain = settle(day.Options());  // in the middle of that run
  running->Write("2\n1\n");
  ASSERT_TRUE(running->WaitForCount(kChargedLine, 3));
  stop(std::move(running));
  stop(start(2, "2\n"));  // splits the run where the settlement ended
  const long long first = settle(kept);
  for (int station = 1; station <= 6; ++station) stop(start(station, ""));
  const long long second = settle(kept);
  EXPECT_EQ(settle(kept), 0);
  EXPECT_GT(plain, 0);
  EXPECT_GT(first, 0);
  EXPECT_GT(second, 0);
  // Every line charged that day, settled at once from the logs and every kept run.
  DataDir all;
  std::string lines;
  for (int station = 1; station <= 6; ++station) {
    std::string log;
    for (const auto& entry : fs::directory_iterator(day.dir.root())) {
      const std::string name = entry.path().filename();
      if (name.starts_with(LogNameOf(station))) log += day.dir.Read(name);
    }
    all.Write(LogNameOf(station), log);
    lines += log;
  }
  EXPECT_EQ(CountOf(lines, "\n"), 6u);
  const long long once = settle({all.workdir(), &day.clock});
  EXPECT_EQ(plain + first + second, once);
  const std::string reports = day.dir.Read("SubwayCompany.txt") + day.dir.Read("BusCompany.txt");
  EXPECT_EQ(Sum(reports, "Subway Income") + Sum(reports, "Bus Income"), once);
  for (const auto& entry : fs::directory_iterator(day.dir.root())) {
    const std::string name = entry.path().filename();
    EXPECT_TRUE(name.find(".run-") == std::string::npos || name.ends_with(".settled")) << name;
  }
}

}  // namespace
