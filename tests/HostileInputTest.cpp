// SPDX-License-Identifier: Apache-2.0
// The three programs as a person starts them: at the console, and in shared data directories.
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <map>
#include <thread>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "DataFiles.h"
#include "Harness.h"
#include "Journal.h"

namespace {

using namespace std::string_literals;
using Files = std::map<std::string, std::string>;
namespace fs = std::filesystem;

constexpr const char* kLogLine = "3333 0 0 200 42 F 1250 S O 1417849509 201412675\n";

std::string Times(int n, const std::string& text) { return n > 0 ? text + Times(n - 1, text) : ""; }
std::string BytesFrom(int b) { return b < 256 ? static_cast<char>(b) + BytesFrom(b + 1) : ""; }

// Every file under its root; unless |whole|, a journal and the settlements only as there.
Files Snapshot(const DataDir& dir, bool whole = false) {
  Files files;
  for (const auto& entry : fs::recursive_directory_iterator(dir.root())) {
    const std::string name = fs::relative(entry.path(), dir.root());
    const bool blank = name.ends_with("journal") || name.ends_with("Settlements.txt");
    files[name] = blank && !whole ? "" : dir.Read(name);
  }
  files.erase("clock");
  return files;
}

// A program, its input, all it prints (status 0, quiet on standard error but for why a write
// failed), the files it changes, and its data directory: "" the default, or moved/ (six logs) or
// jammed/ (no card fits). Input comes from a thread, so that a flood of output cannot block.
using Session = std::tuple<const char*, std::string, std::string, Files, std::string>;

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
      {ISSUER_BIN, "42 20000\n", "File Write Error.\n", {}, "none/"},  // asks nothing, names it
      {ISSUER_BIN, "10000\n", id + no, {}, ""},
      {ISSUER_BIN, "-1\n", id + no, {}, ""},
      {ISSUER_BIN, "42\n", both + no, {}, ""},
      {ISSUER_BIN, "42 10000001\n", both + no, {}, ""},
      {ISSUER_BIN, "42 4294967296\n", both + no, {}, ""},  // 0 modulo 2^32
      {TERMINAL_BIN, "abc 1 2\n0\n7\n-1\n4294967297\n1\0\n"s + lots + blank_lines + every_byte, sel + Times(9, wrong + sel), {}, ""},
      {TERMINAL_BIN, "3\nabc 1 2\n3\n0\n-4294967294\n99999999999999999999\n1.0\n0x1\n1e0\n1\0\n"s + lots + blank_lines + every_byte, sel + menu + Times(12, wrong + menu) + kPeriodOver, chose, "moved/"},
      {SETTLE_BIN, every_byte + lots, line + "\n" + date + "Overall Fee : 1250 Won\nSubway Fee : 1250 Won\nBus Fee : 0 Won\n" + line + "\n",
       {{"SubwayCompany.txt", date + "Subway Income : 1250 Won\n"}, {"BusCompany.txt", date + "Bus Income : 0 Won\n"}, {"Settlements.txt", ""}, {lock, ""}, {journal, ""}}, "moved/"}};
  // clang-format on
  for (const Session& session : sessions) Check(session);
}

// What a script relies on: the data directory named, 2 for a bad argument, 1 for a failed write;
// and a program that ran on would write the card its input holds.
TEST(CommandLine, NamesTheDataDirectoryAndRefusesAnyOtherArgument) {
  DataDir dir;
  const std::string at = "Data directory: " + fs::canonical(dir.root()).string() + "/a/none\n";
  // clang-format off
  const std::string cases[][4] = {  // program, environment, arguments, status
      {ISSUER_BIN, "FARE_DATA_DIR=../none", "-h", "0"}, {TERMINAL_BIN, "", "--verbose --help", "2"},
      {SETTLE_BIN, "", "x y", "2"}, {SETTLE_BIN, "", "--version >/dev/full", "1"}};
  // clang-format on
  for (const auto& [program, env, args, status] : cases) {
    SCOPED_TRACE(program + " " + args);
    const std::vector<std::string> shell = {"/bin/sh", "-c", "exec \"$0\" " + args};
    const RunResult run = RunProgram(program, "1 1\n", {dir.workdir(), nullptr, {env}, shell});
    EXPECT_EQ(run.status, std::stoi(status));
    EXPECT_EQ(run.out.find(at) != std::string::npos, !env.empty()) << run.out;
  }
  EXPECT_EQ(Snapshot(dir), (Files{{"a", ""}, {"a/b", ""}}));
}

// In a sticky world-writable directory root refuses what another user planted, with its usual
// line, changing no file. In one a group shares, two members work on each other's files, which
// stay the group's, with or without the set-group-ID bit; a user outside the group is refused.
constexpr uid_t kPlanter = 4242, kOutsider = 4400;
constexpr gid_t kGroup = 4300;

// A run by |uid| (0: root) that shows |prints|, then stopped if it |tag|s, |cause| on stderr.
void Take(const DataDir& dir, uid_t uid, const char* program, const std::string& input,
          const std::string& prints, bool tag = false, const char* cause = "") {
  SCOPED_TRACE(std::string(program) + " as uid " + std::to_string(uid));
  ProcessOptions options{dir.workdir()};
  const std::string own = std::to_string(uid);
  const std::string groups = uid == kOutsider ? own : own + "," + std::to_string(kGroup);
  if (uid != 0)
    options.wrapper = {"/bin/sh", "-c",
                       "umask 022; exec /usr/bin/setpriv --reuid=" + own + " --regid=" + own +
                           " --groups=" + groups + " -- \"$0\""};
  Process process(program, options);
  process.Write(input);
  if (!tag) process.CloseInput();
  EXPECT_TRUE(process.WaitForOutput(prints)) << process.out() << process.err();
  if (tag) process.Signal(SIGTERM);
  EXPECT_EQ(process.Wait(), 0);
  EXPECT_NE(process.err().find(cause), std::string::npos) << process.err();
}

TEST(SharedDirectory, PlantedFilesAreRefusedAndGroupMembersShare) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root, to act as other users";
  const std::string journal(kJournalName), issued = std::string(kIdPrompt) + kBalancePrompt;
  // Planted: a link (l) or a hard link (h) to root's file, a journal open to all (w) or its maker
  // (r), or root's own link (o), followed; then root settles (S), issues (I), starts (T) in turn.
  // clang-format off
  const std::pair<std::string, const char*> rows[] = {
      {journal, "wSIT"}, {journal, "rSIT"}, {journal, "hIT"}, {"BusCompany.txt", "hS"},
      {"usercard.txt", "lI"}, {"usercard.lock", "lIT"}, {journal, "lI"}, {"1111.lock", "lT"},
      {"usercard.txt.farecard-new", "lI"}, {"1111.txt", "lTS"}, {"SubwayCompany.txt", "lS"},
      {"usercard.txt", "oI"}};
  // clang-format on
  for (const auto& [name, how] : rows) {
    SCOPED_TRACE(name + " " + how);
    const bool own = how[0] == 'o';
    DataDir dir;
    ASSERT_EQ(chmod(dir.root().c_str(), 01777), 0);
    dir.Write("usercard.txt", "42 S O 0 0 0 1111 F 20000 0 S 1401959220 20146597");
    for (int i = 1; i <= 6; ++i) dir.Write(LogNameOf(i), "");
    dir.Write("a/victim", how[0] == 'h' ? std::string(kJournalBytes, '\0') : "root's own file\n");
    fs::remove(dir.Path(name));
    if (how[0] == 'w' || how[0] == 'r') {
      Change forged;
      forged.card_line = "42 S O 0 0 0 1111 F 10000000 0 S 1401959220 20146597";
      forged.appends = {{"1111.txt", 0, "1111 0 0 0 42 F 1050 S O 1401959220 20146597\n"}};
      std::string record = FormatJournalRecord(forged, "0123456789abcdef", "-");
      record[kMarkOffset] = kCommittedMark;
      dir.Write(name, record + std::string(kJournalBytes - record.size(), '\0'));
      chmod(dir.Path(name).c_str(), how[0] == 'w' ? 0666 : 0644);
    } else if (how[0] == 'h') {
      fs::create_hard_link(dir.Path("a/victim"), dir.Path(name));
    } else {
      fs::create_symlink("a/victim", dir.Path(name));
    }
    const uid_t by = own || how[0] == 'h' ? 0 : kPlanter;  // a hard link is its file's: root's
    ASSERT_EQ(lchown(dir.Path(name).c_str(), by, by), 0);
    const Files before = Snapshot(dir, true);
    const bool report = name.ends_with("Company.txt");
    for (const char* step = how + 1; *step != '\0'; ++step) {
      if (*step == 'I')
        Take(dir, 0, ISSUER_BIN, "7 5000\n",
             own ? "Create Card Complete!" : issued + "File Write Error.");
      if (*step == 'T') Take(dir, 0, TERMINAL_BIN, "1\n", "File Write Error.");
      if (*step == 'S')
        Take(dir, 0, SETTLE_BIN, "",
             report ? "Cannot write ../../" + name + "!" : "Cannot find DB!");
    }
    Files after = Snapshot(dir, true);
    EXPECT_TRUE(!own || (fs::is_symlink(dir.Path(name)) &&
                         after["a/victim"].starts_with("7 S O 0 0 0 1111 F 5000 0 S ")));
    for (const auto& [file, bytes] : before) EXPECT_TRUE(own || after[file] == bytes) << file;
    for (const auto& [file, bytes] : after)  // what root makes is nobody else's to write
      EXPECT_TRUE(before.contains(file) ||
                  (fs::status(dir.Path(file)).permissions() & fs::perms(022)) == fs::perms::none)
          << file;
  }
  for (const mode_t shared : {02775u, 0775u}) {
    SCOPED_TRACE("a directory two members of a group share, mode " + std::to_string(shared));
    DataDir dir;
    for (const std::string& path : {dir.root(), dir.root() + "/a", dir.workdir()})
      chmod(path.c_str(), 0755);
    ASSERT_EQ(chown(dir.root().c_str(), 0, kGroup), 0);
    ASSERT_EQ(chmod(dir.root().c_str(), shared), 0);
    Take(dir, 4301, ISSUER_BIN, "7 20000\n", "Create Card Complete!");
    Take(dir, 4302, TERMINAL_BIN, "1\n1\n", kChargedLine, true);
    Take(dir, 4301, TERMINAL_BIN, "2\n2\n", kChargedLine, true);
    for (const char* log : {"3\n", "4\n", "5\n", "6\n"})
      Take(dir, 4302, TERMINAL_BIN, log, kMenu, true);
    Take(dir, 4302, SETTLE_BIN, "", "Overall Fee : 1050 Won");
    Take(dir, 4301, SETTLE_BIN, "", "Overall Fee : 1050 Won");
    EXPECT_TRUE(dir.Read("usercard.txt").starts_with("7 S O 0 0 0 2222 F 18950 1050"));
    EXPECT_EQ(CountOf(dir.Read("BusCompany.txt"), "Bus Income : 0 Won\n"), 2u);
    for (const auto& [file, bytes] : Snapshot(dir)) {
      struct stat info {};
      ASSERT_EQ(lstat(dir.Path(file).c_str(), &info), 0);
      EXPECT_TRUE(!S_ISREG(info.st_mode) ||
                  (info.st_gid == kGroup && (info.st_mode & 0777) == 0664))
          << file;
    }
    // A user outside the group may read there but is refused every change, for what it is.
    const Files before = Snapshot(dir, true);
    const char* denied = "Permission denied";
    Take(dir, kOutsider, ISSUER_BIN, "8 100\n", "File Write Error.", false, denied);
    Take(dir, kOutsider, TERMINAL_BIN, "3\n", "File Write Error.", false, denied);
    Take(dir, kOutsider, SETTLE_BIN, "", "Cannot write ../../SubwayCompany.txt!", false, denied);
    EXPECT_EQ(Snapshot(dir, true), before);
  }
}

}  // namespace
