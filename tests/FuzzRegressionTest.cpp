// SPDX-License-Identifier: Apache-2.0
// Replays the fuzzers' seed corpus and every kept crash input through the three readers with the
// fuzzers' own property checks, and shows that those checks do catch a wrong reader.
#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "LocalDate.h"
#include "ReaderChecks.h"

namespace {

namespace fs = std::filesystem;

using Check = std::string (*)(std::string_view);

// Every file of fuzz/<kind>/<target>, in name order; none when the directory does not exist.
std::vector<fs::path> Inputs(const char* kind, const char* target) {
  std::vector<fs::path> files;
  const fs::path dir = fs::path(FUZZ_DIR) / kind / target;
  if (!fs::is_directory(dir)) return files;
  for (const auto& entry : fs::directory_iterator(dir)) {
    if (entry.is_regular_file()) files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  return files;
}

std::string ReadBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Runs every input of |target| through |check|; returns how many there were.
std::size_t Replay(const char* kind, const char* target, Check check) {
  const std::vector<fs::path> files = Inputs(kind, target);
  for (const fs::path& file : files) {
    SCOPED_TRACE(file.string());
    EXPECT_EQ(check(ReadBytes(file)), "");
  }
  return files.size();
}

const struct Target {
  const char* name;
  Check check;
} kTargets[] = {
    {"fuzz_card_line", [](std::string_view bytes) { return CheckCardLine(bytes); }},
    {"fuzz_log_scan", [](std::string_view bytes) { return CheckLogScan(bytes); }},
    {"fuzz_menu_input", [](std::string_view bytes) { return CheckMenuInput(bytes); }},
};

TEST(FuzzRegression, SeedCorpusKeepsEveryProperty) {
  for (const Target& target : kTargets) {
    SCOPED_TRACE(target.name);
    // A corpus that went missing would make this replay pass on nothing.
    EXPECT_GE(Replay("corpus", target.name, target.check), 5u);
  }
}

TEST(FuzzRegression, KeptCrashInputsKeepEveryProperty) {
  std::size_t kept = 0;
  for (const Target& target : kTargets) {
    SCOPED_TRACE(target.name);
    kept += Replay("regressions", target.name, target.check);
  }
  EXPECT_GE(kept, 1u);  // at least the card line whose year overflowed
}

// The corpus has to reach both answers of each reader, or half of each check never runs.
TEST(FuzzRegression, SeedCorpusHoldsGoodAndBadInput) {
  int cards = 0, refused_cards = 0;
  for (const fs::path& file : Inputs("corpus", "fuzz_card_line")) {
    (ParseCardLine(ReadBytes(file)) ? cards : refused_cards)++;
  }
  EXPECT_GT(cards, 0);
  EXPECT_GT(refused_cards, 0);
  int whole_logs = 0, damaged_logs = 0;
  for (const fs::path& file : Inputs("corpus", "fuzz_log_scan")) {
    EntryBlock table;
    const ScanResult scan = ScanLog(ReadBytes(file), true, table);
    if (scan.stop == ScanStop::kEndOfLog && !table.empty()) ++whole_logs;
    if (scan.stop == ScanStop::kDamaged && !table.empty()) ++damaged_logs;
  }
  EXPECT_GT(whole_logs, 0);
  EXPECT_GT(damaged_logs, 0);
  int numbers = 0, words = 0;
  for (const fs::path& file : Inputs("corpus", "fuzz_menu_input")) {
    std::string bytes = ReadBytes(file);
    std::FILE* in = fmemopen(bytes.data(), bytes.size(), "r");
    ASSERT_NE(in, nullptr);
    for (InputNumber answer = ReadNumber(in); answer.kind != InputKind::kEnd;
         answer = ReadNumber(in)) {
      if (answer.kind == InputKind::kNumber) ++numbers;
      if (answer.kind == InputKind::kNotNumber) {
        ++words;
        DiscardLine(in);
      }
    }
    std::fclose(in);
  }
  EXPECT_GT(numbers, 0);
  EXPECT_GT(words, 0);
}

// The kept card input: a tag time whose year localtime still gives but the full year no longer
// fits an int. Checked here directly too, since only a sanitizer build sees the overflow itself.
TEST(FuzzRegression, YearBeyondTheRangeOfIntGivesNoDate) {
  const LocalDate last = ToLocalDate(67767976233532799);  // 2147483647-12-31 23:59:59 UTC
  EXPECT_EQ(last.year, INT_MAX);
  EXPECT_EQ(last.month, 12);
  EXPECT_EQ(last.day, 31);
  EXPECT_EQ(last.second, 59);
  for (const std::int64_t beyond : {67767976233532800LL, 67768036191676799LL}) {
    SCOPED_TRACE(beyond);
    const LocalDate date = ToLocalDate(beyond);
    EXPECT_EQ(date.year, 0);
    EXPECT_EQ(date.month, 0);
    EXPECT_EQ(date.day, 0);
  }
  Card card;
  card.tagTime = 67768036191676799;
  const std::string line = FormatCardLine(card);
  EXPECT_EQ(line.substr(line.rfind(' ')), " 00000");
}

constexpr const char* kSurchargeCard = "7 S I 1050 0 700 2222 F 5000 1050 B 1400000000 20145131653";

TEST(FuzzRegression, CardCheckCatchesAWrongReader) {
  const struct {
    const char* name;
    const char* line;
    CardParser parse;
  } rows[] = {
      {"fee amounts in record order", kSurchargeCard,
       [](std::string_view text) {
         auto card = ParseCardLine(text);
         if (card) std::swap(card->fee.additionalFee, card->fee.missedOffFee);
         return card;
       }},
      {"a line cut short taken as a new card", "42 S O 0 0 0 1111 F",
       [](std::string_view text) {
         return std::optional<Card>(ParseCardLine(text).value_or(Card{}));
       }},
      {"a plus sign taken", "+42 S O 0 0 0 1111 F 20000 0 S 1401959220",
       [](std::string_view text) {
         return ParseCardLine(text.substr(text.empty() || text[0] != '+' ? 0 : 1));
       }},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(CheckCardLine(row.line), "");
    EXPECT_NE(CheckCardLine(row.line, row.parse), "");
  }
}

constexpr const char* kTerminalRun =
    "3333 0 0 200 42 F 1250 S O 1401959400 201465910\n"
    "3333 1050 0 0 42 F 1050 S I 1401960000 201465920\n"
    "3333 0 0 0 42 F 1050 S O 1401960060 201465921\n";

TEST(FuzzRegression, LogCheckCatchesAWrongScanner) {
  const struct {
    const char* name;
    const char* log;
    LogScanner scan;
  } rows[] = {
      {"the last entry dropped", kTerminalRun,
       [](std::string_view text, bool is_last, EntryBlock& table) {
         const ScanResult result = ScanLog(text, is_last, table);
         if (is_last) table.pop_back();
         return result;
       }},
      {"every piece judged as the end of the log", kTerminalRun,
       [](std::string_view text, bool, EntryBlock& table) { return ScanLog(text, true, table); }},
      {"the damage reported a byte late",
       "1111 1050 0 0 7 F 0 S I 1 2\n2222 0 0 1oo 7 F 0 S O 2 2\n",
       [](std::string_view text, bool is_last, EntryBlock& table) {
         ScanResult result = ScanLog(text, is_last, table);
         if (result.stop == ScanStop::kDamaged) ++result.consumed;
         return result;
       }},
      {"a line end miscounted", kTerminalRun,
       [](std::string_view text, bool is_last, EntryBlock& table) {
         ScanResult result = ScanLog(text, is_last, table);
         result.lines += result.lines > 1 ? 1 : 0;
         return result;
       }},
      {"a table emptied first", kTerminalRun,
       [](std::string_view text, bool is_last, EntryBlock& table) {
         table.clear();
         return ScanLog(text, is_last, table);
       }},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(CheckLogScan(row.log), "");
    EXPECT_NE(CheckLogScan(row.log, row.scan), "");
  }
}

TEST(FuzzRegression, MenuCheckCatchesAWrongReader) {
  const struct {
    const char* name;
    const char* input;
    NumberReader read;
  } rows[] = {
      {"a wrong value", "1\n",
       [](std::FILE* in) {
         InputNumber answer = ReadNumber(in);
         answer.value ^= 1;
         return answer;
       }},
      {"a number read off the front of a word, as \"%d\" does", "12abc\n2\n",
       [](std::FILE* in) {
         int value = 0;
         const int assigned = std::fscanf(in, "%d", &value);
         if (assigned == EOF) return InputNumber{InputKind::kEnd, 0};
         if (assigned == 0) return InputNumber{InputKind::kNotNumber, 0};
         return InputNumber{InputKind::kNumber, value};
       }},
      {"the line end after a number swallowed", "1\n2\n",
       [](std::FILE* in) {
         const InputNumber answer = ReadNumber(in);
         if (answer.kind == InputKind::kNumber) std::getc(in);
         return answer;
       }},
      {"a number refused", "7\n",
       [](std::FILE* in) {
         const InputNumber answer = ReadNumber(in);
         return answer.kind == InputKind::kNumber ? InputNumber{InputKind::kNotNumber, 0} : answer;
       }},
      {"the end reported early", "1\n2\n",
       [](std::FILE*) {
         return InputNumber{InputKind::kEnd, 0};
       }},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(CheckMenuInput(row.input), "");
    EXPECT_NE(CheckMenuInput(row.input, row.read), "");
  }
}

}  // namespace
