// SPDX-License-Identifier: Apache-2.0
#include <unistd.h>

#include <array>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>

#include "settle_bench.h"

namespace {

namespace fs = std::filesystem;

constexpr std::array<std::int32_t, 6> kTerms = {1111, 2222, 3333, 4444, 5555, 6666};
constexpr std::int32_t kBus = 6666;

[[noreturn]] void Fail(const std::string& what) {
  std::perror(("settle_bench: " + what).c_str());
  std::exit(1);
}

// The six open logs and what the entries written so far add up to.
class LogWriter {
 public:
  explicit LogWriter(const std::string& root) {
    for (std::size_t i = 0; i < kTerms.size(); ++i) {
      const std::string path = root + "/" + std::to_string(kTerms[i]) + ".txt";
      files_[i] = std::fopen(path.c_str(), "w");
      if (files_[i] == nullptr) Fail(path);
    }
  }
  ~LogWriter() {
    for (std::FILE* file : files_) {
      if (std::fclose(file) != 0) Fail("close");
    }
  }
  LogWriter(const LogWriter&) = delete;
  LogWriter& operator=(const LogWriter&) = delete;

  // One line exactly as a terminal writes it, the date digits of 9 June 2015 included.
  void Add(std::int32_t term, std::int32_t base, std::int32_t missed, std::int32_t additional,
           char transfer, std::int32_t prev_fare, char in_out) {
    const std::int64_t time = 1433858700 + static_cast<std::int64_t>(written);
    std::fprintf(files_[static_cast<std::size_t>(term / 1111 - 1)],
                 "%d %d %d %d 4242 %c %d %c %c %" PRId64 " 2015691405\n", term, base, missed,
                 additional, transfer, prev_fare, term == kBus ? 'B' : 'S', in_out, time);
    additional_sum += additional;
    ++written;
  }

  std::size_t written = 0;
  std::int64_t additional_sum = 0;

 private:
  std::array<std::FILE*, 6> files_{};
};

// One trip and what it is worth overall; however a trip amount is shared, the two shares add
// up to it, so the overall fee needs no rounding.
std::int64_t AddTrip(LogWriter& logs, std::mt19937& random) {
  auto pick = [&random](unsigned n) { return static_cast<std::int32_t>(random() % n); };
  const std::int32_t station = 1111 * (1 + pick(5));
  switch (pick(5)) {
    case 0: {  // ordinary subway ride
      const std::int32_t fee = 100 * pick(4);
      logs.Add(station, 1050, 0, 0, 'F', 1050, 'I');
      logs.Add(1111 * (1 + pick(5)), 0, 0, fee, 'F', 1050 + fee, 'O');
      return 1050 + fee;
    }
    case 1:  // ordinary bus ride
      logs.Add(kBus, 1050, 0, 0, 'F', 1050, 'I');
      logs.Add(kBus, 0, 0, 0, 'F', 1050, 'O');
      return 1050;
    case 2: {  // bus, then a subway transfer ride; the bus leg is credited by its get-off
      const std::int32_t fee = 100 * pick(5);
      logs.Add(kBus, 1050, 0, 0, 'F', 1050, 'I');
      logs.Add(kBus, 0, 0, 0, 'F', 1050, 'O');
      logs.Add(station, 0, 0, 0, 'T', 1050, 'I');
      logs.Add(station, 0, 0, fee, 'T', 1050 + fee, 'O');
      return 1050 + fee;
    }
    case 3: {  // subway, then a bus transfer ride
      const std::int32_t fee = 10 * pick(90);
      logs.Add(station, 1050, 0, 0, 'F', 1050, 'I');
      logs.Add(station, 0, 0, 0, 'F', 1050, 'O');
      logs.Add(kBus, 0, 0, 0, 'T', 1050, 'I');
      logs.Add(kBus, 0, 0, fee, 'T', 1050, 'O');
      return 1050 + fee;
    }
    default:  // a get-on after a subway ride that was never tagged off
      logs.Add(station, 1050, 200, 0, 'F', 1250, 'I');
      return 1250;
  }
}

}  // namespace

BenchLogs WriteBenchLogs(std::size_t entries) {
  std::string pattern = (fs::temp_directory_path() / "settle-bench-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) Fail("mkdtemp");
  BenchLogs result;
  result.root = pattern;
  fs::create_directories(result.root + "/a/b");
  {
    LogWriter logs(result.root);
    std::mt19937 random(static_cast<unsigned>(entries));
    while (logs.written + 4 <= entries) result.overall_fee += AddTrip(logs, random);
    while (logs.written < entries) logs.Add(1111, 1050, 0, 0, 'F', 1050, 'I');  // credits nothing
    result.additional_sum = logs.additional_sum;
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
