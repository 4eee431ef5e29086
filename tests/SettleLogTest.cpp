// SPDX-License-Identifier: Apache-2.0
// Reading the terminal logs: the record format, damaged and cut-short records, logs streamed in
// pieces in bounded memory, and logs that are missing or no regular files.
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cinttypes>
#include <cstdio>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "DataDir.h"
#include "DataFiles.h"
#include "FakeClock.h"
#include "FareEntries.h"
#include "ScanLog.h"
#include "ScanHelpers.h"
#include "Settle.h"

namespace {

constexpr const char* kExampleLine = "3333 0 0 200 1234 F 1250 S O 1400000000 20145131653\n";

// The fields the allocation reads of every entry, one line each, so a mismatch shows which.
std::string Show(const EntryBlock& block) {
  std::string text;
  for (const FareEntry& e : block) {
    text += std::to_string(static_cast<int>(e.surcharge)) + " " + std::to_string(e.additionalFee) +
            " " + e.transfer + " " + std::to_string(e.prevFare) + " " + e.inOut +
            (e.atBusStation ? " bus\n" : " subway\n");
  }
  return text;
}

// The same for the whole, valid records of |log|, blank-separated as a terminal writes them.
std::string Kept(const std::string& log) {
  std::istringstream words(log);
  LogEntry e;
  EntryBlock block;
  while (words >> e.termId >> e.baseFee >> e.missedOffFee >> e.additionalFee >> e.cardId >>
         e.transfer >> e.prevFare >> e.prevVehicle >> e.inOut >> e.tagTime >> e.stamp) {
    if (Credits(ToFareEntry(e))) block.push_back(ToFareEntry(e));
  }
  return Show(block);
}

std::string ScanWhole(std::string_view text, ScanResult* result = nullptr) {
  EntryBlock block;
  const ScanResult scan = ScanLog(text, true, block);
  if (result != nullptr) *result = scan;
  return Show(block);
}

// A log with lines of many lengths, the kind a busy terminal leaves.
std::string LongLog() {
  std::string text;
  for (int i = 0; i < 300; ++i) {
    text += std::to_string(1111 * (1 + i % 6)) + " " + std::to_string(i % 2 * 1050) + " " +
            std::to_string(i % 7 == 0 ? 700 : 0) + " " + std::to_string(i * 37 % 1000) + " " +
            std::to_string(i) + (i % 3 ? " T " : " F ") + std::to_string(i * 101) + " B O " +
            std::to_string(1400000000 + i * 999LL) + " 20145131653\n";
  }
  return text;
}

TEST(SettleLog, ReadsEveryFieldOfTheExampleLine) {
  EXPECT_EQ(ScanWhole(kExampleLine), Kept(kExampleLine));
}

TEST(SettleLog, WellFormedLogs) {
  const std::string one = "1111 1050 700 0 7 F 0 S I 1 20141111\n";
  const std::string two = one + "2222 0 0 100 7 F 1150 S O 2 2\n";
  const struct {
    const char* name;
    std::string text;
    std::string entries;
  } rows[] = {
      {"empty", "", ""},
      {"blank lines only", "\n \n\t\n", ""},
      {"line end after the last line", two, two},
      {"no line end after the last line", two.substr(0, two.size() - 1), two},
      {"several line ends after the last line", two + "\n\n", two},
      {"record spread over lines", "1111 1050 700 0 7\nF 0\n\nS I 1 20141111", one},
      {"tabs and carriage returns", "1111\t1050 700 0 7 F 0 S I 1 20141111\r\n", one},
      {"signs", "+6666 -1050 +200 -0 7 F -5 S I -1 20141111\n",
       "6666 -1050 200 0 7 F -5 S I -1 20141111\n"},
      {"bounds of each width",
       "-2147483648 2147483647 600 -2147483648 2147483647 T 2147483647 S O -9223372036854775808 "
       "9223372036854775807\n",
       "-2147483648 2147483647 600 -2147483648 2147483647 T 2147483647 S O -9223372036854775808 "
       "9223372036854775807\n"},
      {"leading zeros beyond any width",
       "0006666 " + std::string(70000, '0') + "1 0 0 7 F 0 S O 1 2", "6666 1 0 0 7 F 0 S O 1 2\n"},
      {"get-ons that credit nothing",
       "1111 1050 0 0 7 F 0 S I 1 2\n2222 0 0 100 7 F 1150 S O 2 2\n6666 0 0 0 7 Q 0 B O 3 3\n",
       "2222 0 0 100 7 F 1150 S O 2 2\n"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    ScanResult result;
    EXPECT_EQ(ScanWhole(row.text, &result), Kept(row.entries));
    EXPECT_EQ(result.stop, ScanStop::kEndOfLog);
  }
}

TEST(SettleLog, DamagedRecordStopsTheScanAndIsNotCounted) {
  const std::string good = kExampleLine;
  // Damage that a byte shows is found before the log ends; a record cut short is not.
  const struct {
    const char* name;
    std::string damaged;
    bool cut = false;
  } rows[] = {
      {"cut short at the end", "3333 0 0 200 1234 F 1250 S O 1400000000", true},
      {"cut short after a blank", "3333 0 0 200 1234 F 1250 S O 1400000000 \n", true},
      {"letter for a number", "3333 0 x 200 1234 F 1250 S O 1400000000 20145131653\n" + good},
      {"number followed by letters", "3333 0 0 200x 1234 F 1250 S O 1 2\n" + good},
      {"decimal point", "3333 0 0 2.5 1234 F 1250 S O 1 2\n" + good},
      {"sign alone", "3333 0 0 - 1234 F 1250 S O 1 2\n" + good},
      {"two signs", "3333 0 0 +-5 1234 F 1250 S O 1 2\n" + good},
      {"32-bit field beyond its range", "2147483648 0 0 0 1 F 0 S O 1 2\n" + good},
      {"32-bit field below its range", "3333 0 0 -2147483649 1 F 0 S O 1 2\n" + good},
      {"64-bit field beyond its range", "3333 0 0 0 1 F 0 S O 1 9223372036854775808\n" + good},
      {"64-bit field beyond its range after zeros",
       "3333 0 0 0 1 F 0 S O 1 0" + std::string(30, '9') + "\n" + good},
      {"two letters for one", "3333 0 0 200 1234 FT 1250 S O 1 2\n" + good},
      // Followed by a whole record the common-record path reads it; alone at the end, the
      // general one.
      {"two letters for prevVehicle", "3333 0 0 200 1234 F 1250 SB O 1 2\n" + good},
      {"two letters for prevVehicle at the end", "3333 0 0 200 1234 F 1250 SB O 1 2\n"},
      {"two letters for inOut", "3333 0 0 200 1234 F 1250 S OI 1 2\n" + good},
      {"two letters for inOut at the end", "3333 0 0 200 1234 F 1250 S OI 1 2\n"},
      {"letter run into the next number", "3333 0 0 200 1234 F1250 S O 1 2 3\n" + good},
      {"zero byte", std::string("3333 0 0 2\0 1 F 0 S O 1 2\n", 26) + good},
      {"zero bytes alone", std::string(300, '\0')},
      {"digits beyond any width", "3333 0 0 " + std::string(300, '7')},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    ScanResult result;
    EXPECT_EQ(ScanWhole(good + good + row.damaged, &result), Kept(good + good));
    EXPECT_EQ(result.stop, ScanStop::kDamaged);
    EXPECT_EQ(result.consumed, 2 * good.size());
    EXPECT_EQ(result.lines, 2u);
    EntryBlock block;
    const ScanResult piece = ScanLog(good + row.damaged, false, block);
    EXPECT_EQ(piece.stop, row.cut ? ScanStop::kNeedMore : ScanStop::kDamaged);
    EXPECT_EQ(piece.consumed, good.size());
  }
}

TEST(SettleLog, PieceEndingInsideARecordWaitsForTheRest) {
  const std::string log = LongLog();
  const std::string whole = ScanWhole(log);
  // Every cut within the first records, then cuts spread over the rest.
  for (std::size_t cut = 0; cut <= log.size(); cut += cut < 200 ? 1 : 97) {
    SCOPED_TRACE(cut);
    EntryBlock table;
    const ScanResult first = ScanLog(std::string_view(log).substr(0, cut), false, table);
    EXPECT_EQ(first.stop, ScanStop::kNeedMore);
    ASSERT_LE(first.consumed, cut);
    const ScanResult rest = ScanLog(std::string_view(log).substr(first.consumed), true, table);
    EXPECT_EQ(rest.stop, ScanStop::kEndOfLog);
    EXPECT_EQ(Show(table), whole);
  }
}

TEST(SettleLog, EveryPieceSizeLoadsTheSameEntries) {
  DataDir dir;
  const std::string log = LongLog();
  dir.Write("2222.txt", log);
  for (const std::size_t piece :
       {std::size_t{66}, std::size_t{67}, std::size_t{100}, std::size_t{4096}, kReadChunkBytes}) {
    SCOPED_TRACE(piece);
    EntryBlock table;
    EXPECT_EQ(LoadLog(DataPath("2222.txt"), table, piece), LoadOutcome::kWhole);
    EXPECT_EQ(Show(table), ScanWhole(log));
  }
}

// Each skipped record is named by its line and byte; the reading goes on at the line after the
// one where it began.
TEST(SettleLog, DamagedRecordCostsOnlyItself) {
  DataDir dir;
  const std::string good = kExampleLine;
  const std::string spread = "3333" + std::string(70000, '\n') + " 0 0 200 1234 F 1250 S O 1 2\n";
  const std::string padded = "-" + std::string(500000, '0') + "3 \t" + std::string(500000, ' ') +
                             "0 0 200 1234\nF 1250 S O 1 2\n";
  const struct {
    const char* name;
    std::string text;
    std::size_t piece;
    std::vector<std::pair<int, int>> skipped;  // line and byte of each skipped record
    std::string kept;
  } rows[] = {
      {"damaged record", good + "3333 0 x\n" + good, 4096, {{2, 52}}, good + good},
      {"cut short at the end", good + good + "3333 0", 60, {{3, 104}}, good + good},
      {"damage over two lines", "1 2 3 4 5 F 6 S I 7\nx\n" + good, 8, {{1, 0}, {2, 20}}, good},
      {"rest of the line after a damaged record", "3333 0 x " + good + good, 16, {{1, 0}}, good},
      {"damaged line longer than a piece",
       "x" + std::string(300, ' ') + good + good,
       64,
       {{1, 0}},
       good},
      {"record over 70000 line ends", good + spread + good, 4096, {}, good + spread + good},
      {"damaged record over 70000 line ends",
       spread + "7 x\n" + good,
       4096,
       {{70002, 70033}},
       spread + good},
      {"record of a megabyte of blanks and leading zeros",
       good + padded + good,
       4096,
       {},
       good + padded + good},
      {"damaged record of a megabyte of blanks and leading zeros",
       good + "\n\n " + padded.substr(0, padded.size() - 3) + "x y\n" + good,
       4096,
       {{4, 55}, {5, 1000072}},
       good + good},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    dir.Write("5555.txt", row.text);
    EntryBlock table;
    testing::internal::CaptureStderr();
    EXPECT_EQ(LoadLog(DataPath("5555.txt"), table, row.piece),
              row.skipped.empty() ? LoadOutcome::kWhole : LoadOutcome::kDamaged);
    std::string want;
    for (const auto& [line, byte] : row.skipped) {
      want += std::string(program_invocation_short_name) + ": ../../5555.txt: line " +
              std::to_string(line) + ", byte " + std::to_string(byte) +
              ": damaged record skipped\n";
    }
    EXPECT_EQ(testing::internal::GetCapturedStderr(), want);
    EXPECT_EQ(Show(table), Kept(row.kept));
  }
}

// Only a regular file is read as a log: none of these may block the run or run on for ever.
TEST(SettleLog, MissingOrUnreadableLogStopsTheRun) {
  namespace fs = std::filesystem;
  const char* names[] = {"1111.txt", "2222.txt", "3333.txt", "4444.txt", "5555.txt", "6666.txt"};
  const struct {
    const char* kind;
    void (*make)(const std::string& path);
  } kinds[] = {
      {"missing", [](const std::string&) {}},
      {"a directory", [](const std::string& path) { fs::create_directory(path); }},
      {"a FIFO without a writer", [](const std::string& path) { mkfifo(path.c_str(), 0644); }},
      {"a link to /dev/zero",
       [](const std::string& path) { fs::create_symlink("/dev/zero", path); }},
  };
  for (const char* missing : names) {
    for (const auto& kind : kinds) {
      SCOPED_TRACE(std::string(missing) + " is " + kind.kind);
      DataDir dir;
      for (const char* name : names) dir.Write(name, kExampleLine);
      fs::remove(dir.Path(missing));
      kind.make(dir.Path(missing));
      dir.Write("BusCompany.txt", "earlier run\n");
      testing::internal::CaptureStdout();
      testing::internal::CaptureStderr();
      DBRead();
      const std::string err = testing::internal::GetCapturedStderr();
      EXPECT_EQ(testing::internal::GetCapturedStdout(), "Cannot find DB!\n");
      EXPECT_NE(err.find(missing), std::string::npos) << err;
      EXPECT_FALSE(dir.Exists("SubwayCompany.txt"));
      EXPECT_EQ(dir.Read("BusCompany.txt"), "earlier run\n");
    }
  }
}

// A file of zero bytes is one damaged record as long as the file: it is skipped in a memory of
// its own, however long it is.
TEST(SettleLog, ZeroBytesAreSkippedInBoundedMemory) {
  constexpr long kFileBytes = 64L << 20;
  constexpr long kMostGrowthKiB = 16 << 10;
  DataDir dir;
  const std::string path = dir.Path("3333.txt");
  dir.Write("3333.txt", "");
  ASSERT_EQ(truncate(path.c_str(), kFileBytes), 0);
  std::fflush(nullptr);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    rusage before{};
    getrusage(RUSAGE_SELF, &before);
    EntryBlock block;
    std::freopen("/dev/null", "w", stderr);
    const LoadOutcome outcome = LoadLog(path, block);
    rusage after{};
    getrusage(RUSAGE_SELF, &after);
    const bool bounded = after.ru_maxrss - before.ru_maxrss < kMostGrowthKiB;
    _exit(outcome == LoadOutcome::kDamaged && block.empty() && bounded ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_EQ(status, 0) << "not one damaged record, or memory grew by 16 MiB or more";
}

TEST(SettleLog, DamageCostsOnlyTheRecordWhateverTheThreads) {
  DataDir dir;
  for (const char* name : {"1111.txt", "3333.txt", "4444.txt", "5555.txt"}) dir.Write(name, "");
  // 2222: two ordinary rides credited around a damaged record that must not count.
  dir.Write("2222.txt", "2222 0 0 200 1 F 1250 S O 1 2\n2222 0 0 oops\n2222 0 0 0 1 F 0 S O 1 2\n");
  dir.Write("6666.txt", "6666 0 0 300 1 F 1350 B O 1 2\n");
  SetCurrentTime(1433858700);
  for (const unsigned threads : {1u, 2u, 6u}) {
    SCOPED_TRACE(threads);
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    DBRead(threads);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "----------------------------\nDate : 2015-6-9 14:5\nOverall Fee : 3650 Won\n"
              "Subway Fee : 2300 Won\nBus Fee : 1350 Won\n----------------------------\n");
    EXPECT_NE(err.find("../../2222.txt: line 2, byte 30: damaged record skipped\n"),
              std::string::npos)
        << err;
  }
}

}  // namespace
