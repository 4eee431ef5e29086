// SPDX-License-Identifier: Apache-2.0
// The settlement on the logs of SettleLogs.h: in this process, as the real program, and by sql/.
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <random>

#include <gtest/gtest.h>

#include "DataFiles.h"
#include "FileChanges.h"
#include "Harness.h"
#include "Settle.h"
#include "SettleLogs.h"

namespace {

namespace fs = std::filesystem;
const std::string kRule = "----------------------------\n", kDate = "Date : 2015-6-9 14:5\n";
const std::string kShare = "6666 0 0 189812529 7 T -94906264 B O 1 2\n";  // about 2^53 to the bus

// The summary settle prints for these totals, on the date its clock is frozen at.
std::string Summary(std::int64_t subway, std::int64_t bus) {
  return kRule + kDate + "Overall Fee : " + std::to_string(subway + bus) +
         " Won\nSubway Fee : " + std::to_string(subway) + " Won\nBus Fee : " + std::to_string(bus) +
         " Won\n" + kRule;
}

std::string Damage(const std::string& log, long line, long byte) {
  return std::string(program_invocation_short_name) + ": ../../" + log + ": line " +
         std::to_string(line) + ", byte " + std::to_string(byte) + ": damaged record skipped\n";
}

// What |run| prints, on standard output and then on standard error, with the clock frozen.
std::string Printed(const auto& run) {
  SetCurrentTime(1433858700);  // 2015-06-09 14:05 UTC
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  run();
  return testing::internal::GetCapturedStdout() + testing::internal::GetCapturedStderr();
}

// Every row, read 1, 67, 4096 or 65536 bytes at a time (short logs only in small pieces), settles
// to its totals, naming each damaged record it skips and no other.
TEST(SettleLog, EveryRowSettlesAlikeAtEveryPieceSizeAndDamageCostsOnlyItself) {
  DataDir dir;
  for (const Row& row : Rows()) {
    dir.Write("5555.txt", row.log);
    std::string want = Summary(row.subway, row.bus);
    for (const auto& [line, byte] : row.skipped) want += Damage("5555.txt", line, byte);
    for (const std::size_t piece : {1u, 67u, 4096u, 65536u}) {
      LogSnapshot log;
      if (piece * 4096 < row.log.size() || !OpenLog(DataPath("5555.txt"), log)) continue;
      const auto settle = [&] {
        EntryTable table(1);
        ReadLog(log, table[0], piece);
        Non_Ad_Calculator(table, table[0].size());
      };
      EXPECT_EQ(Printed(settle), want) << row.log.substr(0, 99) << "\nin pieces of " << piece;
      CloseFile(log.fd);
    }
  }
}

// 20000 entries of trips, 64 MiB of zeros (one damaged record, read in bounded memory), and 5000
// shares of 2^53 and their negatives either first (sums pass 2^63): all credited, on any threads.
TEST(SettleVolume, ThousandsOfEntriesAreCreditedExactlyWhateverTheThreadsAndTheOrder) {
  DataDir dir;
  std::string logs[6];
  std::int64_t subway = 1050, bus = 0;  // 1050: the ride after the zeros
  std::mt19937 random(609);
  for (int trips = 0; trips < 4500; ++trips) {
    const Row& trip = kTrips[random() % std::size(kTrips)];
    AddTrip(trip, logs);
    subway += trip.subway;
    bus += trip.bus;
  }
  const long zeros = std::ssize(logs[3]),
             line = 1 + std::count(logs[3].begin(), logs[3].end(), '\n');
  const std::string want = Summary(subway, bus) + Damage("4444.txt", line, zeros);
  dir.Write("4444.txt", logs[3]);
  ASSERT_EQ(truncate(dir.Path("4444.txt").c_str(), zeros + (64 << 20)), 0);
  std::ofstream(dir.Path("4444.txt"), std::ios::app) << "\n4444 0 0 0 7 F 0 S O 1 2\n";
  std::string shares, negated;
  for (int i = 0; i < 5000; ++i) shares += kShare;
  for (int i = 0; i < 5000; ++i) negated += "6666 0 0 -189812529 7 T 94906264 B O 1 2\n";
  rusage before{}, after{};
  getrusage(RUSAGE_SELF, &before);
  for (const bool negatives_first : {false, true}) {
    for (int log : {1, 2, 4}) dir.Write(LogName(log), logs[log]);
    dir.Write("1111.txt", (negatives_first ? negated : shares) + logs[0]);
    dir.Write("6666.txt", logs[5] + (negatives_first ? shares : negated));
    for (const unsigned threads : {1u, 2u, 6u}) {
      EXPECT_EQ(Printed([threads] { DBRead(threads); }), want)
          << threads << " threads" << (negatives_first ? ", negatives first" : "");
      if (after.ru_maxrss == 0) getrusage(RUSAGE_SELF, &after);  // the first run's peak
    }
  }
  EXPECT_LT(after.ru_maxrss - before.ru_maxrss, 16 << 10) << "KiB more, for a log of zeros";
}

// The example day (kTrips[0]; station 2 served no one), settle's clock frozen.
struct Day {
  DataDir dir;
  ClockFile clock{dir.Path("clock")};
  Day() {
    std::string logs[6];
    AddTrip(kTrips[0], logs);
    for (int log = 0; log < 6; ++log) dir.Write(LogName(log), logs[log]);
    clock.Set(1433858700);
  }
};

// The example day settled; no report made for a log missing or no file, or for totals beyond 64
// bits; a report that cannot be written (a device) named after the damage, the other not made.
TEST(SettleProgram, SettlesTheExampleDayOrTellsWhyNot) {
  std::string beyond;  // of the reports' 64 bits
  for (int i = 0; i < 1025; ++i) beyond += kShare;
  const struct {
    std::string log, in_place, out, err;  // in_place: "-" nothing, "|" a FIFO, or lines
  } rows[] = {
      {"2222.txt", "", Summary(2009, 591), ""},
      {"1111.txt", "-", "Cannot find DB!\n", "settle: ../../1111.txt: No such file or directory\n"},
      {"3333.txt", "|", "Cannot find DB!\n", "settle: ../../3333.txt: not a regular file\n"},
      {"2222.txt", "2222 0 0 7", "Cannot write ../../BusCompany.txt!\n",
       "settle: ../../2222.txt: line 1, byte 0: damaged record skipped\n"
       "settle: ../../BusCompany.txt: not a regular file\n"},
      {"2222.txt", beyond, "Income out of range!\n",
       "settle: subway -9232378920098636391 won, bus 9232379114656481216 won: beyond the report's "
       "64-bit figures\n"},
  };
  for (const auto& row : rows) {
    Day day;
    const std::string path = day.dir.Path(row.log);
    const bool settled = row.err.empty(), unwritable = row.out.starts_with("Cannot write");
    fs::remove(path);
    if (row.in_place == "|") mkfifo(path.c_str(), 0644);
    if (row.in_place != "-" && row.in_place != "|") day.dir.Write(row.log, row.in_place);
    if (unwritable) fs::create_symlink("/dev/full", day.dir.Path("BusCompany.txt"));
    const RunResult run = RunProgram(SETTLE_BIN, "", {day.dir.workdir(), &day.clock, {}});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out + run.err, row.out + row.err);
    const std::string bus = unwritable ? "<device>" : day.dir.Read("BusCompany.txt");  // never ends
    EXPECT_EQ(day.dir.Read("SubwayCompany.txt") + bus,
              settled ? kDate + "Subway Income : 2009 Won\n" + kDate + "Bus Income : 591 Won\n"
                      : "<missing>" + (unwritable ? bus : "<missing>"));
  }
}

// While settle reads, a terminal may take the card lock, empty its log (a new file renamed over
// it) and log a tag: settle settles the logs as they stood when it held the lock.
TEST(SettleProgram, ReadsTheLogsAsTheyStoodUnderTheLockWithoutHoldingIt) {
  std::string rides;  // 12 MB to read
  for (int i = 0; i < 400000; ++i) rides += "1111 0 0 200 7 F 1250 S O 1 2\n";
  for (int attempt = 0; attempt < 5; ++attempt) {
    Day day;
    std::ofstream(day.dir.Path("1111.txt"), std::ios::app) << rides;
    Process settle(SETTLE_BIN, {day.dir.workdir(), &day.clock, {}});
    const auto bytes_read = [&settle] {  // "rchar: N": the journal's at most until the logs open
      std::size_t bytes = 0;
      std::ifstream("/proc/" + std::to_string(settle.pid()) + "/io").ignore(7) >> bytes;
      return bytes;
    };
    for (int polls = 0; polls < 1000000 && bytes_read() < (1 << 20); ++polls) {
    }
    const int lock = LockFile(DataPath("usercard.lock"));
    day.dir.Write("1111.txt.new", "");
    fs::rename(day.dir.Path("1111.txt.new"), day.dir.Path("1111.txt"));
    std::ofstream(day.dir.Path("3333.txt"), std::ios::app) << "3333 0 0 200 7 F 1250 S O 1 2\n";
    UnlockFile(lock);
    const bool caught_reading = bytes_read() < rides.size();
    EXPECT_EQ(settle.Wait(), 0);
    if (!caught_reading) continue;  // it was done before the terminal was: once more
    EXPECT_EQ(settle.out(), Summary(500002009, 591));
    return;
  }
  FAIL() << "settle was never caught reading the logs without the card lock";
}

// Each engine's load DIR, and db and csv: their input's SQL on $work's database, as a|b or CSV.
const struct {
  const char *name, *prefix, *functions;
} kEngines[] = {
    {"SQLite", "",
     "load() { " SQL_DIR "/load-sqlite \"$work/db\" \"$1\" 2>/dev/null; }\n"
     "db() { sqlite3 -bail \"$@\" \"$work/db\" | tr -d '\\r'; }\ncsv() { db -csv -header; }\n"},
    {"PostgreSQL", SQL_DIR "/with-postgresql ",
     "load() { " SQL_DIR "/load-postgresql \"$1\" 2>/dev/null; }\n"
     "p() { psql -X -q -v ON_ERROR_STOP=1 \"$@\"; }\ndb() { p -At; }\ncsv() { p --csv; }\n"},
};

// sql/ on both engines: all rows in one log to settle's totals, the example day's breakdowns as
// CSV, and failed loads (no logs, a log no file, one stopped halfway) changing nothing.
TEST(SettleSql, BothEnginesSettleTheRowsToTheWonExportCsvAndLoadWholeOrNotAtAll) {
  const Day day, rows;  // the example day, and the rows one after another in place of its 1111.txt
  const std::string settle = "; db <" SQL_DIR "/settlement.sql\n";
  std::int64_t subway = 2009, bus = 591;
  std::string all;
  for (const Row& row : Rows()) {
    all += row.log + "\nx\n";  // a damaged line to close it
    subway += row.subway;
    bus += row.bus;
  }
  rows.dir.Write("1111.txt", all);
  fs::create_directories(day.dir.Path("bad/1111.txt"));
  std::string script = "set -e\nload " + rows.dir.root() + settle + "load " + day.dir.root() +
                       "\nfor q in by-terminal by-day charged-credited; do csv <" SQL_DIR
                       "/$q.sql; done\n";
  std::string want =
      std::to_string(subway) + "|" + std::to_string(bus) + "\n" +
      "term_id,entries,charged,subway_credit,bus_credit\n1111,1,1050,0,0\n3333,1,200,1250,0\n"
      "4444,1,0,0,0\n5555,1,300,759,-459\n6666,2,1050,0,1050\n"
      "day,entries,charged,subway_credit,bus_credit\n2015-06-09,2,1250,1250,0\n"
      "2015-06-10,4,1350,759,591\ncharged,credited,difference\n2600,2600,0\n";
  const std::string halfway =
      "echo 'DROP TABLE rejected_line; CREATE VIEW rejected_line AS SELECT 1'";
  for (const std::string& failed : {"load " + day.dir.Path("none"), "load " + day.dir.Path("bad"),
                                    halfway + " | db && load " + rows.dir.root()}) {
    script += "! { " + failed + "; } || echo loaded" + settle;
    want += "2009|591\n";
  }
  for (const auto& engine : kEngines) {
    day.dir.Write("query.sh", "export TZ=ABC-11 PGTZ=ABC-11 work=" + day.dir.root() + "\n" +
                                  engine.functions + script);
    std::FILE* shell =
        popen((engine.prefix + ("sh " + day.dir.Path("query.sh")) + " 2>&1").c_str(), "r");
    std::string out;
    for (char piece[256]; shell != nullptr && std::fgets(piece, sizeof piece, shell);) out += piece;
    EXPECT_EQ(shell != nullptr ? pclose(shell) : -1, 0) << engine.name;
    EXPECT_EQ(out, want) << engine.name;
  }
}

}  // namespace
