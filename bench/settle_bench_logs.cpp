// SPDX-License-Identifier: Apache-2.0
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

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
  std::array<std::FILE*, 6> files{};
  for (std::size_t i = 0; i < files.size(); ++i) {
    const std::string path = result.root + "/" + std::to_string(1111 * (i + 1)) + ".txt";
    files[i] = std::fopen(path.c_str(), "w");
    if (files[i] == nullptr) Fail(path);
  }
  // The trips of the tests' generator; a trip has at most four entries.
  TripLogs logs{[&files](int log, const char* line) { std::fputs(line, files[static_cast<std::size_t>(log)]); },
                std::mt19937(static_cast<unsigned>(entries))};
  while (logs.written + 4 <= entries) logs.Trip();
  while (logs.written < entries) logs.Add(1111, 0, 0, 'F', 1050, 'I');  // credits nothing
  for (std::FILE* file : files) {
    if (std::fclose(file) != 0) Fail("close");
  }
  result.overall_fee = logs.subway + logs.bus;
  result.additional_sum = logs.additional_sum;
  // On disk before any run is timed: the writeback of fresh logs would otherwise run alongside
  // the first runs, and a report's fsync could wait for it.
  sync();
  return result;
}

void RemoveBenchLogs(const BenchLogs& logs) {
  std::error_code ignored;
  fs::remove_all(logs.root, ignored);
}
