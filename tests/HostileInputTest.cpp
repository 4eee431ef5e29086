// SPDX-License-Identifier: Apache-2.0
// Hostile console input to every program: nothing, an end of input at each prompt, letters,
// numbers beyond 32 bits, a mebibyte without a line end, and binary bytes with NUL. Each
// program must end with status 0, within bounds, print exactly its own few lines (one error for
// a whole bad line, never one per byte) and change no data file that an accepted answer did not.
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "ConsoleTexts.h"
#include "DataDir.h"
#include "DataFiles.h"
#include "Ledger.h"
#include "Process.h"
#include "Station.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using Files = std::map<std::string, std::string>;

constexpr const char* kWrong = "Wrong Input Error\n";
constexpr const char* kGetOnBlock =
    "------------------------------\nTagging is processed competely.\n\nTotal fee : 1050.\n"
    "Your balance : 18950.\n------------------------------\n";
constexpr std::size_t kMiB = std::size_t{1} << 20;

std::string Fill(std::string_view unit, std::size_t bytes) {
  std::string text;
  text.reserve(bytes + unit.size());
  while (text.size() < bytes) text += unit;
  return text;
}

// Every byte value once, 0 to 255 in order. The line end (10) splits it into two lines, and the
// blanks 9 and 11 to 13 put a word at the start of each.
std::string EveryByte() {
  std::string text;
  for (int b = 0; b < 256; ++b) text += static_cast<char>(b);
  return text;
}

std::string Times(int n, const std::string& text) {
  std::string all;
  for (int i = 0; i < n; ++i) all += text;
  return all;
}

// Every file under the data directory with its bytes, the working directory included; all but
// the test's own clock.
Files Snapshot(const DataDir& dir) {
  namespace fs = std::filesystem;
  Files files;
  for (const auto& entry : fs::recursive_directory_iterator(dir.root())) {
    const std::string name = fs::relative(entry.path(), dir.root()).string();
    if (name == "clock") continue;
    files[name] = entry.is_regular_file() ? dir.Read(name) : "<directory>";
  }
  return files;
}

// Feeds |input| from a thread of its own, so that a program which floods its output while the
// input is still being written fails the bounded wait instead of blocking both sides.
class Feeder {
 public:
  Feeder(Process& process, std::string input)
      : thread_([&process, text = std::move(input)] {
          process.Write(text);
          process.CloseInput();
        }) {}
  ~Feeder() { thread_.join(); }
  Feeder(const Feeder&) = delete;
  Feeder& operator=(const Feeder&) = delete;

 private:
  std::thread thread_;
};

struct Row {
  const char* name;
  std::string input;
  std::string output;  // exactly what the program prints (for the tag menu: after the first menu)
};

RunResult RunFed(const char* program, const std::string& input, const ProcessOptions& options) {
  Process process(program, options);
  RunResult result;
  {
    Feeder feeder(process, input);
    result.status = process.Wait(30s);
  }
  result.out = process.out();
  result.err = process.err();
  return result;
}

TEST(HostileInput, IssuerRefusesEveryAnswerThatIsNotANumberInRange) {
  const std::string id_refused = std::string(kIdPrompt) + "Input Error!\n";
  const std::string balance_refused = std::string(kIdPrompt) + kBalancePrompt + "Input Error!\n";
  const std::vector<Row> rows = {
      {"empty input", "", id_refused},
      {"end of input at the balance prompt", "42\n", balance_refused},
      {"letters", "abc\n5000\n", id_refused},
      {"a number with letters after it", "12abc\n5000\n", id_refused},
      {"a number beyond 64 bits", "99999999999999999999\n5000\n", id_refused},
      {"a number that is 42 modulo 2^32", "4294967338\n5000\n", id_refused},
      {"a balance that is 0 modulo 2^32", "42\n4294967296\n", balance_refused},
      {"a mebibyte of letters without a line end", Fill("a", kMiB), id_refused},
      {"a mebibyte of digits without a line end", Fill("1", kMiB), id_refused},
      {"a mebibyte of digits as the balance", "42\n" + Fill("9", kMiB), balance_refused},
      {"a NUL inside the number", std::string("4") + '\0' + "2\n5000\n", id_refused},
      {"every byte value", EveryByte(), id_refused},
      {"a mebibyte of blanks and line ends only", Fill(" \n\t", kMiB), id_refused},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Station setup;
    const Files before = Snapshot(setup.dir);
    const RunResult run = RunFed(ISSUER_BIN, row.input, setup.Options());
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, row.output);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(Snapshot(setup.dir), before);
  }
}

TEST(HostileInput, IssuerTakesTwoGoodAnswersWhateverFollowsThem) {
  struct Answers {
    const char* name;
    std::string input;
  };
  const std::vector<Answers> rows = {
      {"both answers, then binary bytes", "7\n5000\n" + EveryByte() + Fill("\xff", kMiB)},
      {"both answers on one line, no line end", "7 5000"},
  };
  for (const Answers& row : rows) {
    SCOPED_TRACE(row.name);
    Station setup;
    Files expected = Snapshot(setup.dir);
    expected["usercard.txt"] = "7 S O 0 0 0 1111 F 5000 0 S 1417849509 201412675";
    expected["usercard.lock"] = "";
    const RunResult run = RunFed(ISSUER_BIN, row.input, setup.Options());
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, std::string(kIdPrompt) + kBalancePrompt + "Create Card Complete!\n");
    EXPECT_EQ(run.err, "");
    Files after = Snapshot(setup.dir);
    // The journal holds the card's record, which names the boot it was written in.
    EXPECT_EQ(after.erase("usercard.txt.farecard-journal"), 1u);
    EXPECT_EQ(after, expected);
  }
}

TEST(HostileInput, TerminalSelectionShowsOneErrorPerBadLine) {
  const std::string again = std::string(kWrong) + kSelection;
  const std::vector<Row> rows = {
      {"empty input", "", ""},
      {"letters", "abc\n", again},
      {"a whole line of words, numbers among them", "abc def 1 2\n", again},
      {"numbers outside the menu", "0\n7\n-1\n", Times(3, again)},
      {"a number beyond 64 bits", "99999999999999999999\n", again},
      {"a number that is 1 modulo 2^32", "4294967297\n", again},
      {"a NUL after the number", std::string("1") + '\0' + "\n", again},
      {"a mebibyte of letters without a line end", Fill("a", kMiB), again},
      {"a mebibyte of digits without a line end", Fill("1", kMiB), again},
      {"a mebibyte of blanks and line ends only", Fill(" \n", kMiB), ""},
      {"every byte value", EveryByte(), Times(2, again)},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Station setup;
    const Files before = Snapshot(setup.dir);
    const RunResult run = RunFed(TERMINAL_BIN, row.input, setup.Options());
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, kSelection + row.output);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(Snapshot(setup.dir), before) << "no terminal was chosen, so no log may change";
  }
}

// Serves |input| at the tag menu of terminal 3 until the menu process ends at the end of input,
// then lets the service period run out.
RunResult RunAtTagMenu(Station& setup, const std::string& input) {
  Process terminal(TERMINAL_BIN, setup.Options());
  RunResult result;
  terminal.Write("3\n");
  if (!terminal.WaitForOutput(kMenu)) return {terminal.out(), terminal.err(), -1};
  const pid_t menu = FirstChildOf(terminal.pid());
  {
    Feeder feeder(terminal, input);
    const auto deadline = Clock::now() + 30s;
    while (menu > 0 && IsRunning(menu) && Clock::now() < deadline) {
      terminal.WaitForCount(kMenu, SIZE_MAX, 10ms);  // keeps reading its output meanwhile
    }
    setup.clock.Set(kStart + 180);
    result.status = terminal.Wait(30s);
  }
  result.out = terminal.out();
  result.err = terminal.err();
  return result;
}

TEST(HostileInput, TagMenuShowsOneErrorPerBadLineAndChargesNothing) {
  const std::string again = std::string(kWrong) + kDateLine + kMenu;
  const std::vector<Row> rows = {
      {"end of input at the menu", "", ""},
      {"letters", "abc\n", again},
      {"a whole line of words, numbers among them", "abc 1 2\n", again},
      {"numbers outside the menu", "3\n0\n-2\n", Times(3, again)},
      {"a number that is 1 modulo 2^32", "4294967297\n", again},
      {"a number that is 2 modulo 2^32", "-4294967294\n", again},
      {"a number beyond 64 bits", "99999999999999999999\n", again},
      {"numbers in other notations", "1.0\n0x1\n1e0\n", Times(3, again)},
      {"a NUL after the number", std::string("1") + '\0' + "\n", again},
      {"a mebibyte of letters without a line end", Fill("a", kMiB), again},
      {"a mebibyte of digits without a line end", Fill("2", kMiB), again},
      {"a mebibyte of blanks and line ends only", Fill(" \n", kMiB), ""},
      {"every byte value", EveryByte(), Times(2, again)},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Station setup;
    setup.dir.Write("3333.txt", "left by an earlier run\n");
    setup.dir.Write("1111.txt", "another terminal's log\n");
    Files expected = Snapshot(setup.dir);
    expected["3333.txt"] = "";       // choosing the terminal empties its log
    expected["usercard.lock"] = "";  // the tag menu opens the card lock
    expected["3333.lock"] = "";      // the terminal holds its station's lock
    // The lines of the run before are kept, under the time of this start.
    expected[KeptRunName("3333.txt", kStart)] = "left by an earlier run\n";
    const RunResult run = RunAtTagMenu(setup, row.input);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out,
              std::string(kSelection) + kDateLine + kMenu + row.output + "3 minutes over!\n");
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(Snapshot(setup.dir), expected);
  }
}

TEST(HostileInput, TagMenuChargesTheOneTagBeforeTheGarbage) {
  Station setup;
  const RunResult run = RunAtTagMenu(setup, "1\n" + EveryByte() + Fill("x", kMiB));
  EXPECT_EQ(run.status, 0);
  const std::string menu = std::string(kDateLine) + kMenu;
  EXPECT_EQ(run.out,
            kSelection + menu + kGetOnBlock + menu + Times(2, kWrong + menu) + "3 minutes over!\n");
  EXPECT_EQ(run.err, "");
  const auto card = WholeCard(setup.dir.Read("usercard.txt"));
  ASSERT_TRUE(card);
  EXPECT_EQ(card->balance, 18950);
  const LogCheck log = CheckLog(setup.dir.Read("3333.txt"), 3333, 42);
  EXPECT_EQ(log.fault, "");
  EXPECT_EQ(log.lines, 1u);
  EXPECT_EQ(log.charges, 1050);
}

TEST(HostileInput, SettleReadsNoInputAtAll) {
  const std::vector<Row> rows = {
      {"empty input", "", ""},
      {"a mebibyte of letters without a line end", Fill("a", kMiB), ""},
      {"binary bytes", EveryByte() + Fill(std::string("\0\xff", 2), kMiB), ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Station setup;
    for (const char* log : {"1111.txt", "2222.txt", "4444.txt", "5555.txt", "6666.txt"}) {
      setup.dir.Write(log, "");
    }
    setup.dir.Write("3333.txt", "3333 0 0 200 42 F 1250 S O 1417849509 201412675\n");
    Files expected = Snapshot(setup.dir);
    expected["SubwayCompany.txt"] = "Date : 2014-12-6 7:5\nSubway Income : 1250 Won\n";
    expected["BusCompany.txt"] = "Date : 2014-12-6 7:5\nBus Income : 0 Won\n";
    expected["usercard.lock"] = "";  // it reads the logs under the card lock
    const RunResult run = RunFed(SETTLE_BIN, row.input, setup.Options());
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out,
              "----------------------------\nDate : 2014-12-6 7:5\nOverall Fee : 1250 Won\n"
              "Subway Fee : 1250 Won\nBus Fee : 0 Won\n----------------------------\n");
    EXPECT_EQ(run.err, "");
    Files after = Snapshot(setup.dir);
    EXPECT_EQ(after.erase("usercard.txt.farecard-journal"), 1u);  // the reports' commit
    EXPECT_EQ(after, expected);
  }
}

}  // namespace
