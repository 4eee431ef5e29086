// The settlement query of sql/ agrees with settle to the won, run in the sqlite3 shell on
// logs that reach every allocation rule: each surcharge, transfer get-offs at either kind of
// terminal, ordinary get-offs, entries that credit nothing, zero divisors, exact halves and
// negative amounts.
#include <cstdio>
#include <random>
#include <string>

#include <gtest/gtest.h>

#include "DataDir.h"
#include "FakeClock.h"
#include "Settle.h"

namespace {

// |count| random log lines, each in the log of its own terminal, as a terminal writes them.
void WriteLogs(const DataDir& dir, unsigned seed, int count) {
  std::mt19937 random(seed);
  const auto pick = [&random](int low, int high) {
    return std::uniform_int_distribution<int>(low, high)(random);
  };
  std::string logs[7];
  for (int i = 0; i < count; ++i) {
    const int term = 1111 * pick(1, 7);  // 7777 has no log of its own; it counts as subway
    constexpr int kMissedOffFees[] = {0, 0, 0, 200, 600, 700, 300};
    const int missed = kMissedOffFees[pick(0, 6)];
    // Mostly terminal amounts; some far wider, and some that zero a divisor.
    const int spread = pick(0, 9) == 0 ? 1 << 24 : 2000;
    const int additional = pick(0, 19) == 0 ? 2 * -pick(0, 1) * 1050 : pick(-spread, spread);
    const int zeroing = pick(0, 19) == 0 ? -additional / 2 : pick(0, 19) == 0 ? -350 : 1;
    const int prev_fare = zeroing != 1 ? zeroing : pick(-spread, spread);
    const char transfer = "TFTFQ"[pick(0, 4)];
    const char in_out = "OOIX"[pick(0, 3)];
    char line[128];
    std::snprintf(line, sizeof line, "%d 1050 %d %d 42 %c %d S %c 1433858700 2015691405\n", term,
                  missed, additional, transfer, prev_fare, in_out);
    logs[term / 1111 - 1] += line;
  }
  logs[5] += logs[6];  // the unknown terminal's lines go into the bus log's file
  for (int t = 0; t < 6; ++t) dir.Write(std::to_string(1111 * (t + 1)) + ".txt", logs[t]);
}

std::string SettleTotals() {
  testing::internal::CaptureStdout();
  DBRead();
  const std::string out = testing::internal::GetCapturedStdout();
  const auto subway = out.find("Subway Fee : ");
  const auto bus = out.find("Bus Fee : ");
  if (subway == std::string::npos || bus == std::string::npos) return out;
  return std::to_string(std::stoll(out.substr(subway + 13))) + "|" +
         std::to_string(std::stoll(out.substr(bus + 10))) + "\n";
}

// Loads the logs and runs the query as the README shows, in the directory settle runs in.
std::string QueryTotals() {
  const std::string command = "sqlite3 -bail :memory: '.read " SQL_DIR
                              "/log_entry.sql' '.read " SQL_DIR "/settlement.sql' 2>&1";
  std::FILE* shell = popen(command.c_str(), "r");
  if (shell == nullptr) return "cannot start sqlite3";
  std::string out;
  char piece[256];
  while (std::fgets(piece, sizeof piece, shell) != nullptr) out += piece;
  const int status = pclose(shell);
  return status == 0 ? out : out + "sqlite3 exit status " + std::to_string(status);
}

TEST(SettleSql, QueryAgreesWithSettleToTheWon) {
  for (const unsigned seed : {1u, 2u, 3u}) {
    SCOPED_TRACE(seed);
    DataDir dir;
    WriteLogs(dir, seed, 4000);
    SetCurrentTime(1433858700);
    EXPECT_EQ(QueryTotals(), SettleTotals());
  }
}

}  // namespace
