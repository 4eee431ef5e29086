// The revenue allocation: rounding, every row of what an entry adds, the worked trips, the
// hand-over between the passes, sums beyond 32 bits and entries that cannot be shared.
#include <cstdlib>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "Allocation.h"
#include "DataDir.h"
#include "FakeClock.h"
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

TEST(SettleAllocation, MyRoundTakesExactHalvesDown) {
  const struct {
    double x;
    std::int64_t rounded;
  } rows[] = {{590.625, 591}, {641.67, 642}, {612.5, 612}, {759.375, 759},
              {525.0, 525},   {0.5, 0},      {1.5, 1},     {2.5000001, 3},
              {-52.5, -53},   {-0.4, 0},     {-0.6, -1},   {4503599627370495.5, 4503599627370495}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.x);
    EXPECT_EQ(myRound(row.x), row.rounded);
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
      {"share far beyond whole won", Entry(6666, 'O', 'T', kMax32, -1073741824)},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    // An ordinary ride next to it is still credited.
    const Totals totals = Settle({row.entry, Entry(6666, 'O', 'F', 100)});
    EXPECT_EQ(totals.subway, 0);
    EXPECT_EQ(totals.bus, 1150);
  }
}

TEST(SettleAllocation, CreditNeverCarriesATotalOutOfRange) {
  Income income{kMax64 - 10, -5, 0};
  EXPECT_FALSE(Credit(income, 11, 1));
  EXPECT_EQ(income.subwayIncome, kMax64 - 10);
  EXPECT_EQ(income.busIncome, -5);
  EXPECT_TRUE(Credit(income, 10, 5));  // the overall fee is exactly the largest value
  EXPECT_EQ(income.subwayIncome, kMax64);
  EXPECT_FALSE(Credit(income, 0, 1));  // the bus total fits, the overall fee would not
  EXPECT_EQ(income.busIncome, 0);
  Income low{0, std::numeric_limits<std::int64_t>::min() + 1, 0};
  EXPECT_FALSE(Credit(low, 0, -2));
  // Through the chain: the one ride that would overflow is left out, the totals are printed.
  const Totals totals = RunChain([] {
    GeneralCalculator(Table({Entry(1111, 'O', 'F', 0)}), Income{kMax64 - 100, 0, kRunTime}, 1);
  });
  EXPECT_EQ(totals.subway, kMax64 - 100);
  // Enough rides for two threads: near the range the pass is walked in order again, so the
  // rides are refused one by one as in one walk; far from it the halves add up.
  const std::vector<LogEntry> rides(20000, Entry(6666, 'O', 'F', 0));
  for (const std::int64_t handed : {kMax64 - 100, std::int64_t{7}}) {
    const Totals sum = RunChain([&] {
      GeneralCalculator(Table(rides), Income{0, handed, kRunTime}, rides.size());
    });
    EXPECT_EQ(sum.bus, handed == 7 ? 7 + 20000 * 1050 : handed);
  }
}

}  // namespace
