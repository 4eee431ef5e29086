// SPDX-License-Identifier: Apache-2.0
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>
#include <random>
#include <sstream>
#include <string>

#include "SettleLogs.h"
#include "settle_bench.h"

namespace {

namespace fs = std::filesystem;

[[noreturn]] void Fail(const std::string& what) {
  std::perror(("settle_bench: " + what).c_str());
  std::exit(1);
}

}  // namespace

BenchLogs WriteBenchLogs(std::size_t entries) {
  std::string pattern = (fs::temp_directory_path() / "settle-bench-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) Fail("mkdtemp");
  BenchLogs result;
  result.root = pattern;
  fs::create_directories(result.root + "/a/b");
  // The trips of the tests (tests/SettleLogs.h), at most six lines each; then lines that credit
  // nothing, up to |entries|.
  std::string logs[6];
  std::mt19937 random(static_cast<unsigned>(entries));
  std::size_t written = 0;
  while (written + 6 <= entries) {
    const Row& trip = kTrips[random() % std::size(kTrips)];
    AddTrip(trip, logs);
    written += static_cast<std::size_t>(std::count(trip.log.begin(), trip.log.end(), '\n'));
    result.overall_fee += trip.subway + trip.bus;
    for (std::istringstream lines(trip.log); lines;) {
      long long fields[4] = {};
      lines >> fields[0] >> fields[1] >> fields[2] >> fields[3];
      result.additional_sum += fields[3];
      lines.ignore(std::numeric_limits<std::streamsize>::max(), '\n');
    }
  }
  for (; written < entries; ++written)
    logs[0] += "1111 1050 0 0 4242 F 1050 S I 1433858700 2015691405\n";
  for (int log = 0; log < 6; ++log) {
    const std::string path = result.root + "/" + LogName(log);
    std::ofstream file(path, std::ios::binary);
    if (!(file << logs[log]) || !file.flush()) Fail(path);
    logs[log] = std::string();
  }
  // On disk before any run is timed: the writeback of fresh logs would otherwise run alongside
  // the first runs, and a report's fsync could wait for it.
  sync();
  return result;
}

void RemoveBenchLogs(const BenchLogs& logs) {
  std::error_code ignored;
  fs::remove_all(logs.root, ignored);
}
