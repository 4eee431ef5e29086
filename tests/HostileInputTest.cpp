// SPDX-License-Identifier: Apache-2.0
// The three programs as a person starts them: good and hostile console input and command lines.
#include <chrono>
#include <filesystem>
#include <map>
#include <thread>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "DataFiles.h"
#include "Harness.h"

namespace {

using namespace std::string_literals;
using Files = std::map<std::string, std::string>;
namespace fs = std::filesystem;

constexpr const char* kLogLine = "3333 0 0 200 42 F 1250 S O 1417849509 201412675\n";

std::string Times(int n, const std::string& text) { return n > 0 ? text + Times(n - 1, text) : ""; }

std::string BytesFrom(int b) { return b < 256 ? static_cast<char>(b) + BytesFrom(b + 1) : ""; }

Files Snapshot(const DataDir& dir) {  // every file under its root, a journal only as there
  Files files;
  for (const auto& entry : fs::recursive_directory_iterator(dir.root())) {
    const std::string name = fs::relative(entry.path(), dir.root());
    files[name] =
        name.ends_with("journal") || name.ends_with("Settlements.txt") ? "" : dir.Read(name);
  }
  files.erase("clock");
  return files;
}

// A program, its input, all it prints (with status 0, quiet on standard error but for why a
// write failed), the files of its data directory it changes as it leaves them (the rest stay as
// they were), and that directory: "" the default, or by FARE_DATA_DIR moved/ (six logs) or
// jammed/ (no card can be written there). Two files a person keeps lie beside the card.
using Session = std::tuple<const char*, std::string, std::string, Files, std::string>;

// The input comes from a thread, so that a flood of output fails the test instead of blocking
// it; a terminal's period ends once its menu process has read to the end.
void Check(const Session& session) {
  const auto& [program, input, out, changes, data] = session;
  SCOPED_TRACE(data + ": " + input.substr(0, 40));
  Station station;
  for (const char* name :
       {".usercard.txt.swp", "usercard.txt.backup", "jammed/usercard.txt/x", "moved/1111.txt",
        "moved/2222.txt", "moved/3333.txt", "moved/4444.txt", "moved/5555.txt", "moved/6666.txt"}) {
    fs::create_directories(fs::path(station.dir.Path(name)).parent_path());
    station.dir.Write(name, name == "moved/3333.txt"s ? kLogLine : "");
  }
  Files expected = Snapshot(station.dir);
  for (const auto& [name, bytes] : changes) expected[data + name] = bytes;
  ProcessOptions options = station.Options();
  options.env = {data.empty() ? "" : "FARE_DATA_DIR=../../" + data};
  Process process(program, options);
  std::thread feeder([&process, &input = input] {
    process.Write(input);
    process.CloseInput();
  });
  for (auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
       IsRunning(process.pid()) && std::chrono::steady_clock::now() < end;) {
    process.WaitForCount(kMenu, SIZE_MAX, std::chrono::milliseconds(10));  // reads its output
    if (process.out().find(kMenu) != std::string::npos && !IsRunning(FirstChildOf(process.pid())))
      station.clock.Set(kStart + kServicePeriod);
  }
  EXPECT_EQ(process.Wait(), 0);
  feeder.join();
  EXPECT_EQ(process.out(), out);
  EXPECT_EQ(process.err().empty(), out.find("Write Error") == std::string::npos);
  EXPECT_EQ(Snapshot(station.dir), expected);
}

TEST(HostileInput, EveryProgramAtTheConsole) {
  const std::string every_byte = BytesFrom(0), lots(1 << 20, '0'), blank_lines(1 << 20, '\n');
  const std::string id = kIdPrompt, both = id + kBalancePrompt, no = "Input Error!\n";
  const std::string done = "Create Card Complete!\n", time = " 1417849509 201412675";
  const std::string sel = kSelection, wrong = "Wrong Input Error\n", line = std::string(28, '-');
  const std::string menu = kDateLine + std::string(kMenu), date = "Date : 2014-12-6 7:5\n";
  const std::string lock = "usercard.lock", journal = "usercard.txt.farecard-journal";
  // clang-format off
  const Files chose = {{"3333.txt", ""}, {KeptRunName("3333.txt", kStart) + ".unsettled", kLogLine}, {"3333.lock", ""}, {lock, ""}};
  const Session sessions[] = {
      {ISSUER_BIN, "0 0", both + done, {{"usercard.txt", "0 S O 0 0 0 1111 F 0 0 S" + time}, {lock, ""}, {journal, ""}}, ""},
      {ISSUER_BIN, "09999\n10000000\n" + every_byte, both + done, {{"usercard.txt", "9999 S O 0 0 0 1111 F 10000000 0 S" + time}, {lock, ""}, {journal, ""}}, "moved/"},
      {ISSUER_BIN, "42 20000\n", both + "File Write Error.\n", {{lock, ""}, {journal, ""}}, "jammed/"},
      {ISSUER_BIN, "", id + no, {}, ""},
      {ISSUER_BIN, "10000\n", id + no, {}, ""},
      {ISSUER_BIN, "-1\n", id + no, {}, ""},
      {ISSUER_BIN, lots, id + no, {}, ""},
      {ISSUER_BIN, every_byte, id + no, {}, ""},
      {ISSUER_BIN, "42\n", both + no, {}, ""},
      {ISSUER_BIN, "42 10000001\n", both + no, {}, ""},
      {ISSUER_BIN, "42 4294967296\n", both + no, {}, ""},  // 0 modulo 2^32
      {TERMINAL_BIN, "", sel, {}, ""},
      {TERMINAL_BIN, "abc 1 2\n0\n7\n-1\n4294967297\n1\0\n"s + lots, sel + Times(7, wrong + sel), {}, ""},
      {TERMINAL_BIN, blank_lines + every_byte, sel + Times(2, wrong + sel), {}, ""},
      {TERMINAL_BIN, "3\nabc 1 2\n3\n0\n-4294967294\n99999999999999999999\n1.0\n0x1\n1e0\n1\0\n"s + lots, sel + menu + Times(10, wrong + menu) + kPeriodOver, chose, "moved/"},
      {TERMINAL_BIN, "3\n" + blank_lines + every_byte, sel + menu + Times(2, wrong + menu) + kPeriodOver, chose, "moved/"},
      {SETTLE_BIN, every_byte + lots, line + "\n" + date + "Overall Fee : 1250 Won\nSubway Fee : 1250 Won\nBus Fee : 0 Won\n" + line + "\n",
       {{"SubwayCompany.txt", date + "Subway Income : 1250 Won\n"}, {"BusCompany.txt", date + "Bus Income : 0 Won\n"}, {"Settlements.txt", ""}, {lock, ""}, {journal, ""}}, "moved/"},
  };
  // clang-format on
  for (const Session& session : sessions) Check(session);
}

// The answers of a card wait at the input, so a program that ran on would write it.
TEST(CommandLine, AnswersHelpAndVersionAndRefusesAnyOtherArgument) {
  DataDir dir;
  const std::string root = fs::canonical(dir.root()), usage = " [--help | --version]\n";
  const std::string hint = " --help' for more information.\n", at = "\nData directory: " + root;
  // clang-format off
  const std::string cases[][6] = {  // program, environment, arguments, status, part of the output, error
      {ISSUER_BIN, "", "x --help --version", "0", "Usage: issuer" + usage, ""},
      {ISSUER_BIN, "FARE_DATA_DIR=../none", "-h", "0", at + "/a/none\n  (set by FARE_DATA_DIR=../none)\n", ""},
      {TERMINAL_BIN, "", "--version -h", "0", "terminal (farecard) " FARE_VERSION "\nCopyright (C) 2026 The", ""},
      {TERMINAL_BIN, "", "--verbose --help", "2", "", "terminal: unknown argument '--verbose'\nTry 'terminal" + hint},
      {SETTLE_BIN, "FARE_DATA_DIR=", "--help", "0", at + "\n  (the default: ../../", ""},
      {SETTLE_BIN, "", "x y", "2", "", "settle: too many arguments\nTry 'settle" + hint},
      {SETTLE_BIN, "", "--version >/dev/full", "1", "", "settle: standard output: No space left on device\n"},
  };
  // clang-format on
  for (const auto& [program, env, args, status, out, err] : cases) {
    SCOPED_TRACE(program + " " + env + " " + args);
    const std::vector<std::string> shell = {"/bin/sh", "-c", "exec \"$0\" " + args};
    const RunResult run = RunProgram(program, "1 1\n", {dir.workdir(), nullptr, {env}, shell});
    EXPECT_EQ(run.status, std::stoi(status));
    EXPECT_TRUE(run.out.find(out) != std::string::npos && run.out.empty() == out.empty())
        << run.out;
    EXPECT_EQ(run.err, err);
  }
  EXPECT_EQ(Snapshot(dir), (Files{{"a", ""}, {"a/b", ""}}));
}

}  // namespace
