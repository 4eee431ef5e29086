// SPDX-License-Identifier: Apache-2.0
// Thousands of entries spread over the six logs: every one is loaded and credited. The expected
// totals are worked out here trip by trip in whole-number arithmetic, not pass by pass in
// doubles as the settlement does.
#include <sched.h>

#include <cinttypes>
#include <cstdio>
#include <map>
#include <random>
#include <string>

#include <gtest/gtest.h>

#include "DataDir.h"
#include "FakeClock.h"
#include "Settle.h"

namespace {

struct Expected {
  std::int64_t subway = 0;
  std::int64_t bus = 0;
  int entries = 0;
};

// ceil(n / d - 1/2) for d > 0, in integers only.
std::int64_t RoundedShare(std::int64_t n, std::int64_t d) {
  const std::int64_t num = 2 * n - d;
  const std::int64_t den = 2 * d;
  return num >= 0 ? (num + den - 1) / den : -((-num) / den);
}

class Logs {
 public:
  void Add(std::int32_t term, std::int32_t base, std::int32_t missed, std::int32_t additional,
           char transfer, std::int32_t prev_fare, char in_out) {
    char line[128];
    std::snprintf(line, sizeof line, "%d %d %d %d 77 %c %d S %c %" PRId64 " 2015691405\n", term,
                  base, missed, additional, transfer, prev_fare, in_out, time_++);
    text_[term] += line;
    ++expected.entries;
  }
  void Write(const DataDir& dir) const {
    for (std::int32_t term = 1111; term <= 6666; term += 1111) {
      const auto found = text_.find(term);
      dir.Write(std::to_string(term) + ".txt", found == text_.end() ? "" : found->second);
    }
  }
  Expected expected;

 private:
  std::map<std::int32_t, std::string> text_;
  std::int64_t time_ = 1433800000;
};

// One trip of a random kind, with its entries and what the whole trip is worth to each side.
void AddTrip(Logs& logs, std::mt19937& random) {
  auto pick = [&random](int n) { return static_cast<std::int32_t>(random() % unsigned(n)); };
  const std::int32_t station = 1111 * (1 + pick(5));
  Expected& e = logs.expected;
  switch (pick(6)) {
    case 0: {  // ordinary subway ride
      const std::int32_t fee = 100 * pick(3);
      logs.Add(station, 1050, 0, 0, 'F', 0, 'I');
      logs.Add(1111 * (1 + pick(5)), 0, 0, fee, 'F', 1050 + fee, 'O');
      e.subway += 1050 + fee;
      break;
    }
    case 1:  // ordinary bus ride
      logs.Add(6666, 1050, 0, 0, 'F', 0, 'I');
      logs.Add(6666, 0, 0, 0, 'F', 1050, 'O');
      e.bus += 1050;
      break;
    case 2: {  // bus, then a subway transfer ride
      const std::int64_t trip = 1050 + 100 * pick(5);
      logs.Add(6666, 1050, 0, 0, 'F', 0, 'I');
      logs.Add(6666, 0, 0, 0, 'F', 1050, 'O');
      logs.Add(station, 0, 0, 0, 'T', 1050, 'I');
      logs.Add(station, 0, 0, std::int32_t(trip - 1050), 'T', std::int32_t(trip), 'O');
      const std::int64_t bus = RoundedShare(trip * 1050, trip + 1050);
      e.bus += bus;
      e.subway += trip - bus;
      break;
    }
    case 3: {  // subway, then a bus transfer ride
      const std::int32_t first = 1050 + 100 * pick(3);
      const std::int64_t trip = first + 10 * pick(90);
      logs.Add(station, 1050, 0, 0, 'F', 0, 'I');
      logs.Add(station, 0, 0, first - 1050, 'F', first, 'O');
      logs.Add(6666, 0, 0, 0, 'T', first, 'I');
      logs.Add(6666, 0, 0, std::int32_t(trip - first), 'T', first, 'O');
      const std::int64_t bus = RoundedShare(trip * trip, trip + first);
      e.bus += bus;
      e.subway += trip - bus;
      break;
    }
    case 4: {  // a get-on with the surcharge for an unfinished subway ride
      logs.Add(station, 1050, 200, 0, 'F', 1250, 'I');
      e.subway += 1250;
      break;
    }
    default: {  // a get-on with a surcharge for an unfinished transfer ride
      if (pick(2) == 0) {
        logs.Add(station, 1050, 600, 0, 'F', 1650, 'I');
        const std::int64_t bus = RoundedShare(std::int64_t{1650} * 1050, 2700);
        e.bus += bus;
        e.subway += 1650 - bus;
      } else {
        const std::int32_t first = 1050 + 100 * pick(3);
        logs.Add(6666, 1050, 700, 0, 'F', first, 'I');
        const std::int64_t trip = first + 700;
        const std::int64_t bus = RoundedShare(trip * trip, trip + first);
        e.bus += bus;
        e.subway += trip - bus;
      }
    }
  }
}

// Confines the calling thread, and the threads it starts, to its first |count| processors
// (all of them for 0); returns the set it had.
cpu_set_t ConfineTo(int count) {
  cpu_set_t had;
  sched_getaffinity(0, sizeof had, &had);
  cpu_set_t set = had;
  int kept = 0;
  for (std::size_t cpu = 0; count > 0 && cpu < CPU_SETSIZE; ++cpu) {
    if (!CPU_ISSET(cpu, &set)) continue;
    if (kept < count) {
      ++kept;
    } else {
      CPU_CLR(cpu, &set);
    }
  }
  sched_setaffinity(0, sizeof set, &set);
  return had;
}

TEST(SettleVolume, EveryEntryOfThousandsIsCredited) {
  DataDir dir;
  Logs logs;
  std::mt19937 random(20150609);
  while (logs.expected.entries < 20000) AddTrip(logs, random);
  logs.Write(dir);
  SetCurrentTime(1433858700);  // 2015-06-09 14:05 UTC
  const Expected& e = logs.expected;
  char summary[256];
  std::snprintf(summary, sizeof summary,
                "Date : 2015-6-9 14:5\nOverall Fee : %" PRId64 " Won\nSubway Fee : %" PRId64
                " Won\nBus Fee : %" PRId64 " Won\n",
                e.subway + e.bus, e.subway, e.bus);
  // The same totals whatever the threads that load the logs and sum the passes.
  for (const unsigned threads : {1u, 2u, 3u}) {
    SCOPED_TRACE(threads);
    const cpu_set_t had = ConfineTo(threads == 1 ? 1 : 0);
    testing::internal::CaptureStdout();
    DBRead(threads);
    sched_setaffinity(0, sizeof had, &had);
    EXPECT_EQ(
        testing::internal::GetCapturedStdout(),
        "----------------------------\n" + std::string(summary) + "----------------------------\n");
  }
  EXPECT_GT(e.subway, 1000000);  // far more than 1024 entries' worth on each side
  EXPECT_GT(e.bus, 1000000);
}

}  // namespace
