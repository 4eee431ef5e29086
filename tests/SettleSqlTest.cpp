// SPDX-License-Identifier: Apache-2.0
// The settlement query of sql/ agrees with settle to the won, on SQLite and on a throw-away
// PostgreSQL server, loaded by each engine's loader: on logs that reach every allocation rule
// (each surcharge, transfer get-offs at either kind of terminal, ordinary get-offs, entries
// that credit nothing, zero divisors, exact halves and negative amounts), at the edge of the
// range SQLite is exact for, and on PostgreSQL at the limits of the 32-bit fields.
#include <cstdio>
#include <functional>
#include <limits>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "DataDir.h"
#include "FakeClock.h"
#include "Settle.h"

namespace {

// Logs for one check: a data directory that stays while others are made.
using Logs = std::unique_ptr<DataDir>;

void WriteLines(const DataDir& dir, std::string (&logs)[7]) {
  logs[5] += logs[6];  // the unknown terminal's lines go into the bus log's file
  for (int t = 0; t < 6; ++t) dir.Write(std::to_string(1111 * (t + 1)) + ".txt", logs[t]);
}

void AddLine(std::string (&logs)[7], int term, int missed, int additional, char transfer,
             int prev_fare, char in_out) {
  char line[128];
  std::snprintf(line, sizeof line, "%d 1050 %d %d 42 %c %d S %c 1433858700 2015691405\n", term,
                missed, additional, transfer, prev_fare, in_out);
  logs[term / 1111 - 1] += line;
}

// |count| random log lines, each in the log of its own terminal, as a terminal writes them.
void WriteRandomLogs(const DataDir& dir, unsigned seed, int count) {
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
    AddLine(logs, term, missed, additional, "TFTFQ"[pick(0, 4)], prev_fare, "OOIX"[pick(0, 3)]);
  }
  WriteLines(dir, logs);
}

// Every pair of |values| as additional fee and previous fare, in every entry that shares or
// credits them, and |extra| lines besides.
void WriteEveryPair(const DataDir& dir, const std::vector<int>& values,
                    const std::vector<std::string>& extra = {}) {
  std::string logs[7];
  for (const int additional : values) {
    for (const int prev_fare : values) {
      AddLine(logs, 6666, 0, additional, 'T', prev_fare, 'O');
      AddLine(logs, 2222, 0, additional, 'T', prev_fare, 'O');
      AddLine(logs, 6666, 0, additional, 'F', prev_fare, 'O');
      AddLine(logs, 3333, 700, additional, 'F', prev_fare, 'I');
    }
  }
  for (const std::string& line : extra) logs[5] += line;
  WriteLines(dir, logs);
}

// settle's totals for the logs of the current directory, as "subway|bus".
std::string SettleTotals() {
  SetCurrentTime(1433858700);
  testing::internal::CaptureStdout();
  DBRead();
  const std::string out = testing::internal::GetCapturedStdout();
  const auto subway = out.find("Subway Fee : ");
  const auto bus = out.find("Bus Fee : ");
  if (subway == std::string::npos || bus == std::string::npos) return out;
  return std::to_string(std::stoll(out.substr(subway + 13))) + "|" +
         std::to_string(std::stoll(out.substr(bus + 10))) + "\n";
}

// The query's totals for each of |logs|, one line each: |query| loads the logs of $dir and
// prints "subway|bus", in a loop over the data directories that runs under |prefix|.
std::string QueryTotals(const std::string& prefix, const std::string& query,
                        const std::vector<Logs>& logs) {
  std::string command = prefix + "sh -c 'for dir; do " + query + " || exit 1; done' sh";
  for (const Logs& dir : logs) command += " " + dir->root();
  std::FILE* shell = popen((command + " 2>&1").c_str(), "r");
  if (shell == nullptr) return "cannot start the shell";
  std::string out;
  char piece[256];
  while (std::fgets(piece, sizeof piece, shell) != nullptr) out += piece;
  const int status = pclose(shell);
  return status == 0 ? out : out + "exit status " + std::to_string(status);
}

// The same logs on both engines; on PostgreSQL also the limits of the 32-bit fields.
TEST(SettleSql, QueryAgreesWithSettleToTheWonOnBothEngines) {
  constexpr int kMax = std::numeric_limits<std::int32_t>::max();
  constexpr int kMin = std::numeric_limits<std::int32_t>::min();
  const int edge = (1 << 30) - 1;  // up to this magnitude no product of the query passes 2^63
  std::vector<Logs> logs;
  std::string totals;
  const auto add_logs = [&](const std::function<void(const DataDir&)>& write) {
    logs.push_back(std::make_unique<DataDir>());
    write(*logs.back());
    totals += SettleTotals();
  };
  for (const unsigned seed : {1u, 2u, 3u}) {
    add_logs([seed](const DataDir& dir) { WriteRandomLogs(dir, seed, 4000); });
  }
  add_logs([edge](const DataDir& dir) {
    WriteEveryPair(dir, {-edge, 1 - edge, -1050, -1, 0, 1, 1050, edge - 1, edge});
  });
  EXPECT_EQ(QueryTotals("",
                        SQL_DIR "/load-sqlite \"$dir/books.db\" \"$dir\" && sqlite3 -bail "
                                "\"$dir/books.db\" <" SQL_DIR "/settlement.sql",
                        logs),
            totals);
  // Besides the pairs: shares of about 2^53 and 2^60, and an exact half beyond 2^52.
  add_logs([](const DataDir& dir) {
    WriteEveryPair(
        dir, {kMin, kMin + 1, -1, 0, 1, kMax - 1, kMax},
        {"6666 0 0 189812531 0 T -94906265 S O 0 0\n",
         "6666 0 0 2147483647 0 T -1073741824 S O 0 0\n", "6666 0 0 0 1 T 379625063 B O 0 0\n"});
  });
  ASSERT_EQ(totals.find("Income out of range!"), std::string::npos);
  EXPECT_EQ(
      QueryTotals(SQL_DIR "/with-postgresql ",
                  SQL_DIR "/load-postgresql \"$dir\" && psql -X -At -v ON_ERROR_STOP=1 -f " SQL_DIR
                          "/settlement.sql",
                  logs),
      totals);
}

}  // namespace
