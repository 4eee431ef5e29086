// SPDX-License-Identifier: Apache-2.0
// The revenue allocation: rounding, every row of what an entry adds, the worked trips, the
// hand-over between the passes, exact sums far beyond 32 bits in any order, entries that cannot
// be shared, and totals beyond the report.
#include <cstdlib>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "DataDir.h"
#include "FakeClock.h"
#include "ScanHelpers.h"
#include "Settle.h"

namespace {

constexpr std::int64_t kRunTime = 1433858700;  // 2015-06-09 14:05:00 UTC
constexpr std::int32_t kMax32 = std::numeric_limits<std::int32_t>::max();
constexpr std::int32_t kMin32 = std::numeric_limits<std::int32_t>::min();
constexpr std::int64_t kMax64 = std::numeric_limits<std::int64_t>::max();

struct Totals {
  std::int64_t subway = 0;
  std::int64_t bus = 0;
};

// The number after |label| in the summary block.
std::int64_t Figure(const std::string& out, const std::string& label) {
  const auto at = out.find(label);
  EXPECT_NE(at, std::string::npos) << out;
  if (at == std::string::npos) return 0;
  return std::strtoll(out.c_str() + at + label.size(), nullptr, 10);
}

// Reads the totals back from the summary block the chain ends with.
Totals FromSummary(const std::string& out) {
  const Totals totals{Figure(out, "\nSubway Fee : "), Figure(out, "\nBus Fee : ")};
  EXPECT_EQ(Figure(out, "\nOverall Fee : "), totals.subway + totals.bus);
  return totals;
}

// Runs |chain| in a fresh data directory and returns the totals it reports.
Totals RunChain(const std::function<void()>& chain) {
  DataDir dir;
  SetCurrentTime(kRunTime);
  testing::internal::CaptureStdout();
  chain();
  return FromSummary(testing::internal::GetCapturedStdout());
}

// One block per entry, so the passes also cross from block to block.
EntryTable Table(const std::vector<LogEntry>& entries) {
  EntryTable table;
  for (const LogEntry& entry : entries) table.push_back({ToFareEntry(entry)});
  return table;
}

Totals Settle(const std::vector<LogEntry>& entries) {
  return RunChain([&] { Non_Ad_Calculator(Table(entries), entries.size()); });
}

LogEntry Entry(std::int32_t term, char in_out, char transfer, std::int32_t additional,
               std::int32_t prev_fare = 1050, std::int32_t missed_off = 0) {
  LogEntry entry;
  entry.termId = term;
  entry.inOut = in_out;
  entry.transfer = transfer;
  entry.additionalFee = additional;
  entry.prevFare = prev_fare;
  entry.missedOffFee = missed_off;
  return entry;
}

LogEntry Surcharge(std::int32_t missed_off, std::int32_t prev_fare = 1050) {
  return Entry(3333, 'I', 'F', 0, prev_fare, missed_off);
}

// |copies| bus transfers whose share is about 2^53, and as many with both amounts negated, whose
// credits are exactly the opposite; the negated ones first when |negatives_first|.
std::vector<LogEntry> Opposites(std::size_t copies, bool negatives_first) {
  std::vector<LogEntry> table(copies, Entry(6666, 'O', 'T', 189812529, -94906264));
  const std::vector<LogEntry> negated(copies, Entry(6666, 'O', 'T', -189812529, 94906264));
  table.insert(negatives_first ? table.begin() : table.end(), negated.begin(), negated.end());
  return table;
}

TEST(SettleAllocation, MyRoundTakesExactHalvesDown) {
  constexpr WideWon kTwoTo64 = static_cast<WideWon>(1) << 64;
  const struct {
    WideWon numerator;
    std::int64_t divisor;
    WideWon rounded;
  } rows[] = {
      // The quotients of the worked examples are rows of EachEntryAddsItsRow.
      {1, 2, 0},
      {3, 2, 1},
      {-105, 2, -53},
      {-2, 5, 0},
      {-3, 5, -1},
      {105, -2, -53},
      {-105, -2, 52},
      // An odd quotient beyond 2^52 and an exact half there, where a double is off by one.
      {9007199254740993, 1, 9007199254740993},
      {std::int64_t{379625063} * 379625063, 759250126, 189812531},
      {kTwoTo64, 3, 6148914691236517205},
      {kTwoTo64, -1, -kTwoTo64},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(static_cast<double>(row.numerator) / static_cast<double>(row.divisor));
    EXPECT_TRUE(myRound(row.numerator, row.divisor) == row.rounded);
  }
}

TEST(SettleAllocation, EachEntryAddsItsRow) {
  const struct {
    const char* name;
    LogEntry entry;
    std::int64_t subway, bus;
  } rows[] = {
      {"surcharge 600", Surcharge(600), 1008, 642},
      {"surcharge 600 in the bus log", Entry(6666, 'I', 'T', 0, 0, 600), 1008, 642},
      {"surcharge 700, prevFare 1250", Surcharge(700, 1250), 762, 1188},
      {"surcharge 700, prevFare 1050", Surcharge(700, 1050), 656, 1094},
      {"surcharge 200", Surcharge(200), 1250, 0},
      {"surcharge 200 in the bus log", Entry(6666, 'I', 'F', 0, 0, 200), 1250, 0},
      {"other surcharge", Surcharge(300), 0, 0},
      {"transfer off at subway", Entry(2222, 'O', 'T', 300), 759, -459},
      {"transfer off at subway, exact half", Entry(3333, 'O', 'T', 420), 858, -438},
      {"transfer off at subway, no fee", Entry(5555, 'O', 'T', 0), 525, -525},
      {"transfer off at bus", Entry(6666, 'O', 'T', 300, 1050), -459, 759},
      {"transfer off at bus after a free first ride", Entry(6666, 'O', 'T', 300, 0), 0, 300},
      {"ordinary off at subway", Entry(4444, 'O', 'F', 200), 1250, 0},
      {"ordinary off at an unknown terminal counts as subway", Entry(7777, 'O', 'F', 0), 1050, 0},
      {"ordinary off at bus", Entry(6666, 'O', 'F', 300), 0, 1350},
      {"ordinary off that also carries 200", Entry(1111, 'O', 'F', 200, 1250, 200), 2500, 0},
      {"get-on", Entry(1111, 'I', 'F', 0), 0, 0},
      {"transfer get-on", Entry(6666, 'I', 'T', 0), 0, 0},
      {"direction neither I nor O", Entry(1111, 'X', 'F', 500), 0, 0},
      {"transfer flag neither T nor F", Entry(6666, 'O', 'Q', 500), 0, 0},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const Totals totals = Settle({row.entry});
    EXPECT_EQ(totals.subway, row.subway);
    EXPECT_EQ(totals.bus, row.bus);
  }
}

TEST(SettleAllocation, BaseFeeOfTheEntryIsNeverRead) {
  LogEntry entry = Entry(2222, 'O', 'F', 200);
  entry.baseFee = 999999;
  EXPECT_EQ(Settle({entry}).subway, 1250);
}

TEST(SettleAllocation, WorkedTrips) {
  const struct {
    const char* name;
    std::vector<LogEntry> table;
    std::int64_t subway, bus;
  } rows[] = {
      {"ordinary subway ride", {Entry(1111, 'I', 'F', 0, 0), Entry(3333, 'O', 'F', 200)}, 1250, 0},
      {"bus, then subway transfer",
       {Entry(6666, 'I', 'F', 0, 0), Entry(6666, 'O', 'F', 0), Entry(1111, 'I', 'T', 0),
        Entry(2222, 'O', 'T', 300, 1350)},
       759,
       591},
      {"subway, then bus transfer",
       {Entry(1111, 'I', 'F', 0, 0), Entry(2222, 'O', 'F', 0), Entry(6666, 'I', 'T', 0),
        Entry(6666, 'O', 'T', 300, 1050)},
       591,
       759},
      {"surcharge 700 after prevFare 1250", {Surcharge(700, 1250)}, 762, 1188},
      {"transfer without its first leg's get-off", {Entry(2222, 'O', 'T', 300)}, 759, -459},
      {"no entries", {}, 0, 0},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const Totals totals = Settle(row.table);
    EXPECT_EQ(totals.subway, row.subway);
    EXPECT_EQ(totals.bus, row.bus);
  }
}

TEST(SettleAllocation, EachPassAddsToTheTotalsItIsHanded) {
  const EntryTable table = Table({Entry(2222, 'O', 'T', 300), Entry(6666, 'O', 'F', 300)});
  const Income handed{100000, -7, kRunTime};
  // The transfer pass adds 759 / -459, the general pass 0 / 1350.
  Totals totals = RunChain([&] { TransferCalculator(table, handed, 2); });
  EXPECT_EQ(totals.subway, 100759);
  EXPECT_EQ(totals.bus, 884);
  totals = RunChain([&] { GeneralCalculator(table, handed, 2); });
  EXPECT_EQ(totals.subway, 100000);
  EXPECT_EQ(totals.bus, 1343);
  // Only the first |count| entries belong to the table.
  totals = RunChain([&] { GeneralCalculator(table, handed, 1); });
  EXPECT_EQ(totals.bus, -7);
}

TEST(SettleAllocation, AmountsBeyond32BitsAreExact) {
  const struct {
    const char* name;
    std::vector<LogEntry> table;
    std::int64_t subway, bus;
  } rows[] = {
      {"two top fares",
       {Entry(1111, 'O', 'F', kMax32), Entry(1111, 'O', 'F', kMax32)},
       4294969394,
       0},
      {"bus transfer, top fee and fare",
       {Entry(6666, 'O', 'T', kMax32, kMax32)},
       -715827882,
       2863311529},
      {"surcharge 700 after the top fare", {Surcharge(700, kMax32)}, 1073741998, 1073742349},
      {"subway transfer, top fee", {Entry(1111, 'O', 'T', kMax32)}, 2147483647, 0},
      {"subway transfer, lowest fee", {Entry(1111, 'O', 'T', kMin32)}, -2147483648, 0},
      {"bus transfer, share beyond 2^53",
       {Entry(6666, 'O', 'T', 189812531, -94906265)},
       -9007199136250225,
       9007199326062756},
      {"bus transfer, exact half beyond 2^52",
       {Entry(6666, 'O', 'T', 0, 379625063)},
       -189812531,
       189812531},
      {"bus transfer, share near 2^60",
       {Entry(6666, 'O', 'T', kMax32, -1073741824)},
       1152921504606846976,
       -1152921502459363329},
      // Each half passes 2^63 on the way; the sum is 0 in any order, on one thread or two.
      {"1025 shares, then their negatives", Opposites(1025, false), 0, 0},
      {"1025 negatives, then their shares", Opposites(1025, true), 0, 0},
      {"5000 of each, summed on two threads", Opposites(5000, false), 0, 0},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const Totals totals = Settle(row.table);
    EXPECT_EQ(totals.subway, row.subway);
    EXPECT_EQ(totals.bus, row.bus);
  }
}

TEST(SettleAllocation, EntryWithoutAShareCreditsNothing) {
  const struct {
    const char* name;
    LogEntry entry;
  } rows[] = {
      {"nothing to share: T and F both 0", Entry(6666, 'O', 'T', 0, 0)},
      {"T + F is 0 at the bus station", Entry(6666, 'O', 'T', 600, -300)},
      {"T + F is 0 for surcharge 700", Surcharge(700, -350)},
      {"T + F is 0 at a subway station", Entry(2222, 'O', 'T', -2100)},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    // An ordinary ride next to it is still credited.
    const Totals totals = Settle({row.entry, Entry(6666, 'O', 'F', 100)});
    EXPECT_EQ(totals.subway, 0);
    EXPECT_EQ(totals.bus, 1150);
  }
}

// Only totals the report cannot hold are refused: whole, with one line, and no report written.
TEST(SettleAllocation, TotalsBeyondTheReportAreRefusedWhole) {
  constexpr std::int64_t kMin64 = std::numeric_limits<std::int64_t>::min();
  const std::vector<LogEntry> one_ride = {Entry(1111, 'O', 'F', 0)};
  const std::vector<LogEntry> rides(20000, Entry(6666, 'O', 'F', 0));
  const struct {
    const char* name;
    std::vector<LogEntry> table;
    Income handed;
    bool refused;
  } rows[] = {
      {"subway just fits", one_ride, {kMax64 - 1050, 0, kRunTime}, false},
      {"subway beyond 64 bits", one_ride, {kMax64 - 100, 0, kRunTime}, true},
      {"each fits, the overall fee does not", one_ride, {kMax64 - 1050, 1, kRunTime}, true},
      {"bus below 64 bits", {Entry(6666, 'O', 'F', -2000)}, {0, kMin64 + 1, kRunTime}, true},
      {"two threads up to the largest total", rides, {0, kMax64 - 21000000, kRunTime}, false},
      {"two threads one past it", rides, {0, kMax64 - 20999999, kRunTime}, true},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    DataDir dir;
    testing::internal::CaptureStdout();
    GeneralCalculator(Table(row.table), row.handed, row.table.size());
    const std::string out = testing::internal::GetCapturedStdout();
    if (row.refused) {
      EXPECT_EQ(out, "Income out of range!\n");
      EXPECT_FALSE(dir.Exists("SubwayCompany.txt"));
      EXPECT_FALSE(dir.Exists("BusCompany.txt"));
    } else {
      const Totals totals = FromSummary(out);
      EXPECT_EQ(totals.subway + totals.bus, kMax64);
    }
  }
}

}  // namespace
