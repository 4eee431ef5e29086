// SPDX-License-Identifier: Apache-2.0
// The queries of sql/ on SQLite and on a throw-away PostgreSQL server, each loaded by its
// engine's loader: the settlement agrees with settle to the won, and the loader skips and names
// the same damaged records, on logs that reach every allocation rule (each surcharge, transfer
// get-offs at either kind of terminal, ordinary get-offs, entries that credit nothing, zero
// divisors, exact halves and negative amounts), at the limits of the 32-bit fields and on
// damaged logs; the breakdowns export the worked examples' credits as CSV; a failed load
// changes nothing.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <limits>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <utility>
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

// What settle makes of the logs of the current directory: its totals as "subway|bus", then the
// damaged records it named, as "log|line" in the order of the log's name and the line.
std::string SettleTotals() {
  SetCurrentTime(1433858700);
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  DBRead();
  const std::string out = testing::internal::GetCapturedStdout();
  std::istringstream err(testing::internal::GetCapturedStderr());
  const auto subway = out.find("Subway Fee : ");
  const auto bus = out.find("Bus Fee : ");
  if (subway == std::string::npos || bus == std::string::npos) return out;
  std::vector<std::pair<std::string, long>> damaged;
  for (std::string line; std::getline(err, line);) {
    const auto log = line.find("../../");
    const auto at = line.find(": line ");
    if (log == std::string::npos || at == std::string::npos) continue;
    damaged.emplace_back(line.substr(log + 6, at - log - 6), std::stol(line.substr(at + 7)));
  }
  std::sort(damaged.begin(), damaged.end());
  std::string totals = std::to_string(std::stoll(out.substr(subway + 13))) + "|" +
                       std::to_string(std::stoll(out.substr(bus + 10))) + "\n";
  for (const auto& [log, line] : damaged) totals += log + "|" + std::to_string(line) + "\n";
  return totals;
}

// One engine as the shell of QueryTotals sees it: |prefix| runs the shell, |functions| defines
// load DIR (loads the logs of DIR), run SQL (runs one statement), query NAME (prints the result
// of sql/NAME.sql as "a|b") and csv NAME (exports it as CSV with a header), each on the
// database in the directory $work.
struct Engine {
  const char* name;
  std::string prefix;
  std::string functions;
};

const Engine kEngines[] = {
    {"SQLite", "",
     "load() { " SQL_DIR "/load-sqlite \"$work/books.db\" \"$1\"; }; "
     "run() { sqlite3 -bail \"$work/books.db\" \"$1\"; }; "
     "query() { sqlite3 -bail \"$work/books.db\" <" SQL_DIR "/$1.sql; }; "
     "csv() { sqlite3 -bail -csv -header \"$work/books.db\" <" SQL_DIR
     "/$1.sql | tr -d '\\r'; }; "},
    {"PostgreSQL", SQL_DIR "/with-postgresql ",
     "load() { " SQL_DIR "/load-postgresql \"$1\"; }; "
     "run() { psql -X -q -At -v ON_ERROR_STOP=1 -c \"$1\"; }; "
     "query() { psql -X -At -v ON_ERROR_STOP=1 -f " SQL_DIR "/$1.sql; }; "
     "csv() { psql -X --csv -v ON_ERROR_STOP=1 -f " SQL_DIR "/$1.sql; }; "},
};

// Runs |script| for each of |logs| under |engine|, with $dir the data directory, $work the first
// one (with no database there yet) and the engine's functions defined; the local time zone is
// nine hours east of UTC. What it prints, and its exit status when that is not 0.
std::string QueryTotals(const Engine& engine, const std::string& script,
                        const std::vector<Logs>& logs) {
  logs.front()->Write("query.sh", "work=\"$1\"\nrm -f \"$work/books.db\"\n" + engine.functions +
                                      "\nfor dir; do " + script + " || exit 1; done\n");
  std::string command =
      "TZ=KST-9 PGTZ=KST-9 " + engine.prefix + "sh " + logs.front()->Path("query.sh");
  for (const Logs& dir : logs) command += " " + dir->root();
  std::FILE* shell = popen((command + " 2>&1").c_str(), "r");
  if (shell == nullptr) return "cannot start the shell";
  std::string out;
  char piece[256];
  while (std::fgets(piece, sizeof piece, shell) != nullptr) out += piece;
  const int status = pclose(shell);
  return status == 0 ? out : out + "exit status " + std::to_string(status);
}

// Loads the logs of $dir and prints the settlement and the rejected lines as SettleTotals does.
constexpr const char* kSettle =
    "load \"$dir\" 2>/dev/null && query settlement && "
    "run \"SELECT log || '|' || line FROM rejected_line ORDER BY log, line\"";

// Well-formed logs with one log replaced: |log| (0 for 1111.txt to 5 for 6666.txt) holds |text|.
void WriteDamagedLogs(const DataDir& dir, int log, const std::string& text) {
  std::string logs[7];
  AddLine(logs, 1111, 200, 0, 'F', 0, 'I');
  AddLine(logs, 3333, 0, 300, 'T', 1050, 'O');
  AddLine(logs, 6666, 700, 0, 'F', 1250, 'I');
  AddLine(logs, 6666, 0, 300, 'T', 1050, 'O');
  logs[log] = text;
  WriteLines(dir, logs);
}

// Every kind of record settle skips or takes against the grain, each log checked on its own.
void AddDamagedLogs(const std::function<void(const std::function<void(const DataDir&)>&)>& add) {
  const std::string good = "3333 0 0 200 1234 F 1250 S O 1400000000 20145131653\n";
  const std::string bus = "6666 0 0 300 1234 T 1050 B O 1400000000 20145131653\n";
  const struct {
    int log;
    std::string text;
  } rows[] = {
      {0, good + "3333  0 0 200 1234 F 1250 S O 1400000000  20145131653\n" + good},   // blanks
      {1, good + "3333\t0 0 2O0 1234 F 1250 S O 1400000000 20145131653\r\n" + good},  // letter
      {2, "3333 0 0 200 1234 F\n" + good + good},  // cut short, ends inside the next line
      {2, "3333 0 0 200\n" + good + good},         // cut short, read again from the next line
      {3, good + "3333 0 0 200 1234 TF 1250 S O 1400000000 20145131653\n" + good},    // two letters
      {5, bus + "6666 0 0 300 1234 T\n1050 B\n\nO 1400000000\n20145131653\n" + bus},  // over lines
      {5, "1 2 3 4 5 F 6 S I 7\nx\n" + bus + bus + "6666 0 700 0 1 F"},  // damage over lines
      {4,
       "+0003333 -0 0 -0000000200 1234 F 1250 S O -9223372036854775808 0\n"  // signs and zeros
       "3333 2147483648 0 200 1234 F 1250 S O 1 2\n3333 -2147483648 0 200 1234 F 1250 S O 1 2\n"
       "3333 0 0 200 1234 F 1250 S O 1 9223372036854775808\n"},
      {4, std::string("3333 0 200 0 1234 \0 0 \xE9 I 1 2\n3333 0 200 0 1234 \" 0 , O 1 2\n", 60) +
              "3333 0 200 0 1234 \\ 0 S I 1 2\n3333 0 200 0 1234 F 0 S OI 1 2\n"},  // odd letters
      {0, ""},
  };
  for (const auto& row : rows) {
    add([&row](const DataDir& dir) { WriteDamagedLogs(dir, row.log, row.text); });
  }
}

// The same logs on both engines: random logs, every pair of amounts up to the limits of the
// 32-bit fields, and damaged logs, each with what settle skips.
TEST(SettleSql, QueryAgreesWithSettleToTheWonOnBothEngines) {
  constexpr int kMax = std::numeric_limits<std::int32_t>::max();
  constexpr int kMin = std::numeric_limits<std::int32_t>::min();
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
  const int edge = (1 << 30) - 1;
  add_logs([edge](const DataDir& dir) {
    WriteEveryPair(dir, {-edge, 1 - edge, -1050, -1, 0, 1, 1050, edge - 1, edge});
  });
  // Besides the pairs: shares of about 2^53 and 2^60, and an exact half beyond 2^52.
  add_logs([](const DataDir& dir) {
    WriteEveryPair(
        dir, {kMin, kMin + 1, -1, 0, 1, kMax - 1, kMax},
        {"6666 0 0 189812531 0 T -94906265 S O 0 0\n",
         "6666 0 0 2147483647 0 T -1073741824 S O 0 0\n", "6666 0 0 0 1 T 379625063 B O 0 0\n"});
  });
  AddDamagedLogs(add_logs);
  ASSERT_EQ(totals.find("Income out of range!"), std::string::npos);
  ASSERT_NE(totals.find("2222.txt|2\n"), std::string::npos) << totals;
  for (const Engine& engine : kEngines) {
    SCOPED_TRACE(engine.name);
    EXPECT_EQ(QueryTotals(engine, kSettle, logs), totals);
  }
}

// The worked examples, and the breakdowns of their credits by terminal, by local day and against
// the charges, exported as CSV: an ordinary subway ride on the first day; on the second, a bus
// ride with a subway transfer ride, a get-on that carries a bus transfer ride never tagged off
// (700) and a transfer get-off whose share is an exact half.
TEST(SettleSql, BreakdownsExportTheCreditsAsCsv) {
  std::vector<Logs> logs;
  logs.push_back(std::make_unique<DataDir>());
  logs.back()->Write("1111.txt",
                     "1111 1050 0 0 42 F 0 S I 1433860200 201569233\n"  // 23:30 local time
                     "1111 1050 700 0 42 F 1250 S I 1433867400 201561023\n");
  logs.back()->Write("2222.txt",
                     "2222 0 0 0 42 T 1050 S I 1433865600 20156100\n"
                     "2222 0 0 420 42 T 1050 S O 1433867400 201561023\n");
  logs.back()->Write("3333.txt",
                     "3333 0 0 200 42 F 1250 S O 1433860800 201569234\n"
                     "3333 0 0 300 42 T 1350 S O 1433866200 20156101\n");
  for (const char* name : {"4444.txt", "5555.txt"}) logs.back()->Write(name, "");
  logs.back()->Write("6666.txt",
                     "6666 1050 0 0 42 F 0 B I 1433863800 201561030\n"  // 00:30 local time
                     "6666 0 0 0 42 F 1050 B O 1433865000 201561050\n");
  ASSERT_EQ(SettleTotals(), "3629|1341\n");
  const std::string csv =
      "term_id,entries,charged,subway_credit,bus_credit\n"
      "1111,2,2800,762,1188\n"
      "2222,2,420,858,-438\n"
      "3333,2,500,2009,-459\n"
      "6666,2,1050,0,1050\n"
      "day,entries,charged,subway_credit,bus_credit\n"
      "2015-06-09,2,1250,1250,0\n"
      "2015-06-10,6,3520,2379,1341\n"
      "charged,credited,difference\n"
      "4770,4970,-200\n"
      "3629|1341\n";
  for (const Engine& engine : kEngines) {
    SCOPED_TRACE(engine.name);
    EXPECT_EQ(QueryTotals(engine,
                          "load \"$dir\" && csv by-terminal && csv by-day && "
                          "csv charged-credited && query settlement",
                          logs),
              csv);
  }
}

// A load that fails leaves the tables and views as the last load made them: whether the logs
// are missing, one is not a regular file, or the engine stops it halfway (a view in the place of
// the rejected lines' table, after the entries' table was replaced).
TEST(SettleSql, FailedLoadChangesNothing) {
  std::vector<Logs> logs;
  logs.push_back(std::make_unique<DataDir>());
  WriteDamagedLogs(*logs.back(), 0, "1111 x\n");
  const std::string totals = SettleTotals();
  const DataDir not_a_file;
  WriteDamagedLogs(not_a_file, 0, "");
  std::filesystem::remove(not_a_file.Path("2222.txt"));
  std::filesystem::create_directory(not_a_file.Path("2222.txt"));
  const std::string failed_loads[] = {
      "load \"$dir/no-such-dir\"",
      "load " + not_a_file.root(),
      "run \"DROP TABLE rejected_line\" && run \"CREATE VIEW rejected_line AS SELECT 1 AS x\" && "
      "load \"$dir\"",
  };
  for (const Engine& engine : kEngines) {
    SCOPED_TRACE(engine.name);
    for (const std::string& failed : failed_loads) {
      SCOPED_TRACE(failed);
      EXPECT_EQ(QueryTotals(engine,
                            std::string(kSettle) + " && { " + failed +
                                " 2>/dev/null && echo loaded; true; } && query settlement",
                            logs),
                totals + totals.substr(0, totals.find('\n') + 1));
    }
  }
}

}  // namespace
