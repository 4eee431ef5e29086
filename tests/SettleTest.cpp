// SPDX-License-Identifier: Apache-2.0
// The settlement in this process, and the SQL of sql/ beside it: the table of logs (SettleLogs.h)
// read at every piece size and settled, a file of zeros, thousands of entries on any number of
// threads, the report's lines and limits, and both SQL engines on the same table.
#include <sched.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <limits>
#include <sstream>

#include <gtest/gtest.h>

#include "DataDir.h"
#include "DataFiles.h"
#include "FakeClock.h"
#include "Settle.h"
#include "SettleLogs.h"

namespace {

namespace fs = std::filesystem;

// The totals of a summary as "subway bus"; the whole output when it holds none.
std::string Figures(const std::string& out) {
  const auto subway = out.find("\nSubway Fee : "), bus = out.find("\nBus Fee : ");
  if (subway == std::string::npos || bus == std::string::npos) return out;
  return std::to_string(std::stoll(out.substr(subway + 14))) + " " +
         std::to_string(std::stoll(out.substr(bus + 11)));
}

std::string Damage(const std::string& log, long line, long byte) {
  return std::string(program_invocation_short_name) + ": ../../" + log + ": line " +
         std::to_string(line) + ", byte " + std::to_string(byte) + ": damaged record skipped\n";
}

// Each row read a piece of 1, 67, 4096 or 65536 bytes at a time (the small pieces for short logs
// only) settles to its totals and names each record it skips, and nothing else.
TEST(SettleLog, EveryRowSettlesAlikeAtEveryPieceSizeAndDamageCostsOnlyItself) {
  DataDir dir;
  SetCurrentTime(1433858700);
  for (const Row& row : Rows()) {
    SCOPED_TRACE(row.log.substr(0, 100));
    dir.Write("5555.txt", row.log);
    std::string damage;
    for (const auto& [line, byte] : row.skipped) damage += Damage("5555.txt", line, byte);
    for (const std::size_t piece : {1u, 67u, 4096u, 65536u}) {
      if (piece * 4096 < row.log.size()) continue;
      EntryTable table(1);
      LogSnapshot log;
      ASSERT_TRUE(OpenLog(DataPath("5555.txt"), log));
      testing::internal::CaptureStderr();
      EXPECT_EQ(ReadLog(log, table[0], piece) == LoadOutcome::kWhole, damage.empty()) << piece;
      EXPECT_EQ(testing::internal::GetCapturedStderr(), damage) << piece;
      CloseFile(log.fd);
      testing::internal::CaptureStdout();
      Non_Ad_Calculator(table, table[0].size());
      EXPECT_EQ(Figures(testing::internal::GetCapturedStdout()),
                std::to_string(row.subway) + " " + std::to_string(row.bus))
          << piece;
    }
  }
}

// A file of zeros is one damaged record as long as the file, skipped in a memory of its own.
TEST(SettleLog, ZeroBytesAreSkippedInBoundedMemory) {
  DataDir dir;
  dir.Write("3333.txt", "");
  ASSERT_EQ(truncate(dir.Path("3333.txt").c_str(), 64L << 20), 0);
  const pid_t child = fork();
  if (child == 0) {
    rusage before{}, after{};
    getrusage(RUSAGE_SELF, &before);
    std::freopen("/dev/null", "w", stderr);
    EntryBlock block;
    LogSnapshot log;
    const bool skipped =
        OpenLog(DataPath("3333.txt"), log) && ReadLog(log, block) == LoadOutcome::kDamaged;
    getrusage(RUSAGE_SELF, &after);
    _exit(skipped && block.empty() && after.ru_maxrss - before.ru_maxrss < (16 << 10) ? 0 : 1);
  }
  int status = -1;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_EQ(status, 0) << "not one damaged record, or memory grew by 16 MiB or more";
}

// 20000 generated entries and a damaged record, with 5000 shares of about 2^53 and as many
// negated, in either order, so that the sums pass 2^63 on the way: every entry credited exactly
// on one processor or two, with 1, 2 or 6 threads reading the logs.
TEST(SettleVolume, ThousandsOfEntriesAreCreditedExactlyWhateverTheThreadsAndTheOrder) {
  DataDir dir;
  std::string logs[6], shares, negated;
  TripLogs trips{[&logs](int log, const char* line) { logs[log] += line; }, std::mt19937(609)};
  while (trips.written < 20000) trips.Trip();
  const std::string damage = Damage("4444.txt", 1 + std::count(logs[3].begin(), logs[3].end(), '\n'),
                                    static_cast<long>(logs[3].size()));
  logs[3] += "4444 0 0 oops\n4444 0 0 0 7 F 0 S O 1 2\n";
  for (int i = 0; i < 5000; ++i) {
    shares += "6666 0 0 189812529 7 T -94906264 B O 1 2\n";
    negated += "6666 0 0 -189812529 7 T 94906264 B O 1 2\n";
  }
  cpu_set_t all, one;
  sched_getaffinity(0, sizeof all, &all);
  CPU_ZERO(&one);
  CPU_SET(static_cast<unsigned>(sched_getcpu()), &one);
  SetCurrentTime(1433858700);
  for (const bool negatives_first : {false, true}) {
    for (int i = 1; i < 5; ++i) dir.Write(std::to_string(1111 * (i + 1)) + ".txt", logs[i]);
    dir.Write("1111.txt", (negatives_first ? negated : shares) + logs[0]);
    dir.Write("6666.txt", logs[5] + (negatives_first ? shares : negated));
    for (const unsigned threads : {1u, 2u, 6u}) {
      sched_setaffinity(0, sizeof one, threads == 1 ? &one : &all);
      testing::internal::CaptureStdout();
      testing::internal::CaptureStderr();
      DBRead(threads);
      EXPECT_EQ(testing::internal::GetCapturedStderr(), damage);
      EXPECT_EQ(Figures(testing::internal::GetCapturedStdout()),
                std::to_string(trips.subway + 1050) + " " + std::to_string(trips.bus))
          << threads << (negatives_first ? " threads, negatives first" : " threads");
    }
  }
  sched_setaffinity(0, sizeof all, &all);
}

// The summary and the report lines byte for byte, appended to what the reports held; totals
// beyond the report's 64 bits, or a report that cannot be written, change neither report.
TEST(SettleReport, LinesAreExactOrNeitherReportChanges) {
  constexpr WideWon kTop = std::numeric_limits<std::int64_t>::max();
  const struct {
    WideWon subway, bus;
    std::int64_t time;
    const char* answer;  // "date|overall|subway|bus" of the summary, or the one line instead
    const char* in_place[2] = {"", ""};  // what stands in a report's place besides its lines
  } rows[] = {
      {2009, 591, 1433858700, "2015-6-9 14:5|2600|2009|591"},
      {759, -459, 1420167840, "2015-1-2 3:4|300|759|-459"},
      {-1, -2, 1451606399, "2015-12-31 23:59|-3|-1|-2"},
      {kTop - 1, 1, 1451606400, "2016-1-1 0:0|9223372036854775807|9223372036854775806|1"},
      {-kTop, -1, 0, "1970-1-1 0:0|-9223372036854775808|-9223372036854775807|-1"},
      {kTop + 1, -1, 0, "Income out of range!"},
      {kTop, 1, 0, "Income out of range!"},
      {-kTop, -2, 0, "Income out of range!"},
      {1, 2, 0, "Cannot write ../../SubwayCompany.txt!", {"directory", ""}},
      {1, 2, 0, "Cannot write ../../BusCompany.txt!", {"", "/dev/full"}},
  };
  const char* names[] = {"SubwayCompany.txt", "BusCompany.txt"};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.answer);
    DataDir dir;
    for (int i = 0; i < 2; ++i) {
      const std::string in_place = row.in_place[i], path = dir.Path(names[i]);
      if (in_place.empty()) dir.Write(names[i], "earlier\n");
      if (in_place == "directory") fs::create_directory(path);
      if (in_place[0] == '/') fs::create_symlink(in_place, path);
    }
    testing::internal::CaptureStdout();
    OutputHandler({}, {row.subway, row.bus, row.time}, 0);
    std::string want = std::string(row.answer) + "\n", lines[2] = {"earlier\n", "earlier\n"};
    if (want.find('|') != std::string::npos) {
      std::string f[4];  // date, overall, subway, bus
      std::istringstream parts(row.answer);
      for (std::string& part : f) std::getline(parts, part, '|');
      const std::string date = "Date : " + f[0] + "\n", rule = "----------------------------\n";
      want = rule + date + "Overall Fee : " + f[1] + " Won\nSubway Fee : " + f[2] +
             " Won\nBus Fee : " + f[3] + " Won\n" + rule;
      lines[0] += date + "Subway Income : " + f[2] + " Won\n";
      lines[1] += date + "Bus Income : " + f[3] + " Won\n";
    }
    EXPECT_EQ(testing::internal::GetCapturedStdout(), want);
    for (int i = 0; i < 2; ++i) {
      if (*row.in_place[i] == '\0') {
        EXPECT_EQ(dir.Read(names[i]), lines[i]);
      }
    }
  }
}

// Each engine's shell functions: load DIR, and db and csv, which run the SQL of their standard
// input on the database in $work, printing rows as "a|b" or CSV with a header.
const struct {
  const char *name, *prefix, *functions;
} kEngines[] = {
    {"SQLite", "",
     "load() { " SQL_DIR "/load-sqlite \"$work/books.db\" \"$1\" 2>/dev/null; }\n"
     "db() { sqlite3 -bail \"$work/books.db\"; }\n"
     "csv() { sqlite3 -bail -csv -header \"$work/books.db\" | tr -d '\\r'; }\n"},
    {"PostgreSQL", SQL_DIR "/with-postgresql ",
     "load() { " SQL_DIR "/load-postgresql \"$1\" 2>/dev/null; }\n"
     "db() { psql -X -q -At -v ON_ERROR_STOP=1; }\n"
     "csv() { psql -X -q --csv -v ON_ERROR_STOP=1; }\n"},
};

// The rows, six logs to a load, settled by sql/ on both engines to the totals that SettleLog
// holds settle to, with the same damaged records named; the example day's breakdowns by
// terminal, by local day and against the charges as CSV; and loads that fail (no logs, a log
// that is no file, the engine stopping one halfway) change nothing.
TEST(SettleSql, BothEnginesSettleTheRowsToTheWonExportCsvAndLoadWholeOrNotAtAll) {
  DataDir dir;
  const std::vector<Row> rows = Rows();
  std::string script = "set -e\nsettle() { db <" SQL_DIR "/settlement.sql; }\n", want, last;
  for (std::size_t first = 0; first < rows.size(); first += 6) {
    const std::string group = "g" + std::to_string(first);
    fs::create_directory(last = dir.Path(group));
    std::int64_t subway = 0, bus = 0;
    std::string rejected;
    for (std::size_t i = 0; i < 6; ++i) {
      const std::string name = std::to_string(1111 * (i + 1)) + ".txt";
      const Row row = first + i < rows.size() ? rows[first + i] : Row{"", 0, 0};
      dir.Write(group + "/" + name, row.log);
      subway += row.subway;
      bus += row.bus;
      for (const auto& skipped : row.skipped) {
        rejected += name + "|" + std::to_string(skipped.first) + "\n";
      }
    }
    script += "load " + last +
              "; settle\n"
              "echo \"SELECT log || '|' || line FROM rejected_line ORDER BY log, line\" | db\n";
    want += std::to_string(subway) + "|" + std::to_string(bus) + "\n" + rejected;
  }
  fs::create_directories(dir.Path("bad/1111.txt"));
  fs::create_directory(dir.Path("day"));
  for (const auto& [name, text] : kExampleLogs) dir.Write("day/" + name, text);
  script += "load " + dir.Path("day") +
            "\nfor q in by-terminal by-day charged-credited; do "
            "csv <" SQL_DIR "/$q.sql; done\n";
  want +=
      "term_id,entries,charged,subway_credit,bus_credit\n1111,1,1050,0,0\n3333,1,200,1250,0\n"
      "4444,1,0,0,0\n5555,1,300,759,-459\n6666,2,1050,0,1050\n"
      "day,entries,charged,subway_credit,bus_credit\n2015-06-09,2,1250,1250,0\n"
      "2015-06-10,4,1350,759,591\ncharged,credited,difference\n2600,2600,0\n";
  for (const std::string& failed :
       {"load " + dir.Path("none"), "load " + dir.Path("bad"),
        "echo 'DROP TABLE rejected_line; CREATE VIEW rejected_line AS SELECT 1 AS x' | db && "
        "load " +
            last}) {
    script += "! { " + failed + "; } || echo loaded; settle\n";
    want += "2009|591\n";
  }
  for (const auto& engine : kEngines) {
    dir.Write("query.sh", "work=" + dir.root() + "\n" + engine.functions + script);
    std::FILE* shell = popen(("TZ=ABC-11 PGTZ=ABC-11 " + std::string(engine.prefix) + "sh " +
                              dir.Path("query.sh") + " 2>&1")
                                 .c_str(),
                             "r");
    ASSERT_NE(shell, nullptr);
    std::string out;
    for (char piece[256]; std::fgets(piece, sizeof piece, shell) != nullptr;) out += piece;
    EXPECT_EQ(pclose(shell), 0) << engine.name;
    EXPECT_EQ(out, want) << engine.name;
  }
}

}  // namespace
