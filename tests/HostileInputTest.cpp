// SPDX-License-Identifier: Apache-2.0
// The three programs as a person starts them: good and hostile console input and command lines;
// and in data directories other users can write to.
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
      {ISSUER_BIN, "42 20000\n", "File Write Error.\n", {}, "none/"},  // asks nothing, names it
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
TEST(CommandLine, NamesTheDataDirectoryAndRefusesAnyOtherArgument) {
  DataDir dir;
  const std::string hint = " --help' for more information.\n";
  const std::string at = "\nData directory: " + fs::canonical(dir.root()).string();
  // clang-format off
  const std::string cases[][6] = {  // program, environment, arguments, status, part of the output, error
      {ISSUER_BIN, "FARE_DATA_DIR=../none", "-h", "0", at + "/a/none\n  (set by FARE_DATA_DIR=../none)\n", ""},
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

// Data directories others can write to. In a sticky world-writable one another user (uid 4242)
// plants a forged journal, or a link under each name the programs write, or a hard link at the
// journal or a report: run by root, the programs refuse them with their usual line and change no
// file anywhere, and what they make there is nobody else's to write. In one a group shares, two
// members with umask 022 issue, tag and settle on each other's files, which stay the group's,
// with or without the set-group-ID bit; a user outside the group is refused for want of
// permission.
constexpr uid_t kPlanter = 4242, kOutsider = 4400;
constexpr gid_t kGroup = 4300;
constexpr const char* kCard = "42 S O 0 0 0 1111 F 20000 0 S 1401959220 20146597";

// A run by |uid| (0: root), with |input|; a terminal that tags is stopped once it shows |prints|.
struct Step {
  uid_t uid;
  const char* program;
  std::string input, prints;
  bool tag = false;
  const char* cause = "";  // a piece of its detail on standard error
};

void Take(const DataDir& dir, const Step& step) {
  SCOPED_TRACE(std::string(step.program) + " as uid " + std::to_string(step.uid));
  ProcessOptions options{dir.workdir()};
  // A member's own group comes first, the shared one beside it; a login's umask takes the
  // group's write permission away.
  const std::string own = std::to_string(step.uid);
  const std::string groups = step.uid == kOutsider ? own : own + "," + std::to_string(kGroup);
  // clang-format off
  if (step.uid != 0) options.wrapper = {"/usr/bin/setpriv", "--reuid=" + own, "--regid=" + own,
                                         "--groups=" + groups, "--", "sh", "-c",
                                         "umask 022; exec \"$0\""};
  // clang-format on
  Process process(step.program, options);
  process.Write(step.input);
  if (!step.tag) process.CloseInput();
  EXPECT_TRUE(process.WaitForOutput(step.prints)) << process.out() << process.err();
  if (step.tag) process.Signal(SIGTERM);
  EXPECT_EQ(process.Wait(), 0);
  EXPECT_NE(process.err().find(step.cause), std::string::npos) << process.err();
}

// Plants, as the other user, |name|: a link to a file of root's, a hard link to one (|hard|),
// or (|journal_mode|) a forged journal that would credit the card.
void Plant(const DataDir& dir, const std::string& name, bool hard = false,
           mode_t journal_mode = 0) {
  for (int i = 1; i <= 6; ++i) dir.Write(LogNameOf(i), "");
  dir.Write("a/victim", hard ? std::string(kJournalBytes, '\0') : "root's own file\n");
  fs::remove(dir.Path(name));
  if (journal_mode != 0) {
    Change forged;
    forged.card_line = "42 S O 0 0 0 1111 F 10000000 0 S 1401959220 20146597";
    forged.appends = {{"1111.txt", 0, "1111 0 0 0 42 F 1050 S O 1401959220 20146597\n"}};
    std::string record = FormatJournalRecord(forged, "0123456789abcdef", "-");
    record[kMarkOffset] = kCommittedMark;
    dir.Write(name, record + std::string(kJournalBytes - record.size(), '\0'));
    chmod(dir.Path(name).c_str(), journal_mode);
  } else if (hard) {
    fs::create_hard_link(dir.Path("a/victim"), dir.Path(name));
  } else {
    fs::create_symlink("a/victim", dir.Path(name));
  }
  ASSERT_EQ(lchown(dir.Path(name).c_str(), kPlanter, kPlanter), 0);
}

TEST(SharedDirectory, PlantedFilesAreRefusedAndGroupMembersShare) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root, to act as other users";
  const std::string issued = std::string(kIdPrompt) + kBalancePrompt;
  const Step issue{0, ISSUER_BIN, "7 5000\n", issued + "File Write Error."};
  const Step start{0, TERMINAL_BIN, "1\n", "File Write Error."};
  const Step settle{0, SETTLE_BIN, "", "Cannot find DB!"};
  const auto report = [](const char* name) {
    return Step{0, SETTLE_BIN, "", std::string("Cannot write ../../") + name + "!"};
  };
  const std::string journal(kJournalName);
  const struct {
    std::string name;
    bool hard;
    mode_t journal_mode;
    std::vector<Step> steps;
  } rows[] = {
      // clang-format off
      {journal, false, 0666, {settle, issue, start}},  // a forged journal, open to all
      {journal, false, 0644, {settle, issue, start}},  // open to none but that user
      {journal, true, 0, {issue, start}},
      {"BusCompany.txt", true, 0, {report("BusCompany.txt")}},
      {"usercard.txt", false, 0, {issue}},
      {"usercard.lock", false, 0, {issue, start}},
      {journal, false, 0, {issue}},
      {"usercard.txt.farecard-new", false, 0, {issue}},
      {"1111.txt", false, 0, {start, settle}},
      {"1111.lock", false, 0, {start}},
      {"SubwayCompany.txt", false, 0, {report("SubwayCompany.txt")}},
      // clang-format on
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name + (row.hard           ? ", a hard link"
                             : row.journal_mode ? ", forged"
                                                : ", a link"));
    DataDir dir;
    ASSERT_EQ(chmod(dir.root().c_str(), 01777), 0);
    dir.Write("usercard.txt", kCard);
    Plant(dir, row.name, row.hard, row.journal_mode);
    const Files before = Snapshot(dir, true);
    for (const Step& step : row.steps) Take(dir, step);
    Files after = Snapshot(dir, true);
    for (const auto& [name, bytes] : before) EXPECT_EQ(after[name], bytes) << name << " changed";
  }
  {
    SCOPED_TRACE("a link of root's own is followed, and what root makes is nobody else's to write");
    DataDir dir;
    ASSERT_EQ(chmod(dir.root().c_str(), 01777), 0);
    dir.Write("a/mine", kCard);
    fs::create_symlink("a/mine", dir.Path("usercard.txt"));
    Take(dir, {0, ISSUER_BIN, "7 5000\n", "Create Card Complete!"});
    EXPECT_TRUE(fs::is_symlink(dir.Path("usercard.txt")));
    EXPECT_TRUE(dir.Read("a/mine").starts_with("7 S O 0 0 0 1111 F 5000 0 S "));
    struct stat made {};
    ASSERT_EQ(stat(dir.Path(kJournalName).c_str(), &made), 0);
    EXPECT_EQ(made.st_mode & 0022, 0u);
  }
  for (const mode_t shared : {02775u, 0775u}) {
    SCOPED_TRACE("a directory two members of a group share, mode " + std::to_string(shared));
    DataDir dir;
    for (const std::string& path : {dir.root(), dir.root() + "/a", dir.workdir()})
      chmod(path.c_str(), 0755);
    ASSERT_EQ(chown(dir.root().c_str(), 0, kGroup), 0);
    ASSERT_EQ(chmod(dir.root().c_str(), shared), 0);
    Take(dir, {4301, ISSUER_BIN, "7 20000\n", "Create Card Complete!"});
    Take(dir, {4302, TERMINAL_BIN, "1\n1\n", kChargedLine, true});
    Take(dir, {4301, TERMINAL_BIN, "2\n2\n", kChargedLine, true});
    for (const char* log : {"3\n", "4\n", "5\n", "6\n"})
      Take(dir, {4302, TERMINAL_BIN, log, kMenu, true});
    Take(dir, {4302, SETTLE_BIN, "", "Overall Fee : 1050 Won"});
    Take(dir, {4301, SETTLE_BIN, "", "Overall Fee : 1050 Won"});
    EXPECT_TRUE(dir.Read("usercard.txt").starts_with("7 S O 0 0 0 2222 F 18950 1050"));
    EXPECT_EQ(CountOf(dir.Read("BusCompany.txt"), "Bus Income : 0 Won\n"), 2u);
    // Every file there the group's to write, whatever the umask of the member who made it.
    for (const auto& entry : fs::directory_iterator(dir.root())) {
      struct stat info {};
      ASSERT_EQ(lstat(entry.path().c_str(), &info), 0);
      if (!S_ISREG(info.st_mode)) continue;
      EXPECT_EQ(info.st_gid, kGroup) << entry.path();
      EXPECT_EQ(info.st_mode & 0777, 0664u) << entry.path();
    }
    // A user outside the group may read there but is refused every change, for what it is.
    const Files before = Snapshot(dir, true);
    const char* denied = "Permission denied";
    Take(dir, {kOutsider, ISSUER_BIN, "8 100\n", "File Write Error.", false, denied});
    Take(dir, {kOutsider, TERMINAL_BIN, "3\n", "File Write Error.", false, denied});
    Take(dir, {kOutsider, SETTLE_BIN, "", "Cannot write ../../SubwayCompany.txt!", false, denied});
    EXPECT_EQ(Snapshot(dir, true), before);
  }
}

}  // namespace
