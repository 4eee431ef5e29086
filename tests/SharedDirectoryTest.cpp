// SPDX-License-Identifier: Apache-2.0
// The real programs in a data directory other users can write to. In a sticky world-writable
// directory another user (uid 4242) plants a forged journal, or a symbolic link under each name
// the programs write, or a hard link at the journal or a report; run by root, the programs must
// refuse them with their usual line, change no file anywhere, and charge nothing. In a directory
// a group shares (root:group, mode 2775) two members, each with umask 022, must issue, tag and
// settle on each other's files, and a user outside the group is refused for want of permission.
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "Card.h"
#include "DataDir.h"
#include "Journal.h"
#include "Process.h"

namespace {

namespace fs = std::filesystem;

constexpr uid_t kPlanter = 4242;
constexpr gid_t kGroup = 4300;
constexpr uid_t kMembers[] = {4301, 4302};
constexpr uid_t kOutsider = 4400;
constexpr const char* kCard = "42 S O 0 0 0 1111 F 20000 0 S 1401959220 20146597";
constexpr const char* kIssued = "Input Card's ID(0000~9999) : Input Card's Balance(0~10000000) : ";

// A program run: by whom (0 for root), with what input, and a piece of what it must print.
struct Step {
  uid_t uid;
  const char* program;
  std::string input;
  std::string prints;
  bool tag = false;             // a terminal that tags: stopped once it has printed |prints|
  const char* cause = nullptr;  // a piece of its detail line on standard error
};

ProcessOptions As(const DataDir& dir, uid_t uid) {
  ProcessOptions options{dir.workdir(), nullptr, {}, {}};
  // A login's usual umask, which takes the group's write permission away.
  const std::string group = std::to_string(uid == kOutsider ? kOutsider : kGroup);
  if (uid != 0) {
    options.wrapper = {"/usr/bin/setpriv",
                       "--reuid=" + std::to_string(uid),
                       "--regid=" + group,
                       "--groups=" + group,
                       "--",
                       "sh",
                       "-c",
                       "umask 022; exec \"$0\""};
  }
  return options;
}

void Take(const DataDir& dir, const Step& step) {
  SCOPED_TRACE(std::string(step.program) + " as uid " + std::to_string(step.uid));
  if (!step.tag) {
    const RunResult run = RunProgram(step.program, step.input, As(dir, step.uid));
    EXPECT_NE(run.out.find(step.prints), std::string::npos) << run.out << run.err;
    if (step.cause) {
      EXPECT_NE(run.err.find(step.cause), std::string::npos) << run.err;
    }
    return;
  }
  Process terminal(step.program, As(dir, step.uid));
  terminal.Write(step.input);
  EXPECT_TRUE(terminal.WaitForOutput(step.prints)) << terminal.out() << terminal.err();
  terminal.Signal(SIGTERM);
  EXPECT_EQ(terminal.Wait(), 0);
}

// Plants, as the other user, a link at |name| to a file of root's outside the directory.
void PlantLink(const DataDir& dir, const std::string& name) {
  dir.Write("a/victim", "root's own file\n");
  fs::remove(dir.Path(name));
  fs::create_symlink("a/victim", dir.Path(name));
  ASSERT_EQ(lchown(dir.Path(name).c_str(), kPlanter, kPlanter), 0);
}

// Makes, as root, a second name |name| for a file of root's outside the directory.
void PlantHardLink(const DataDir& dir, const std::string& name) {
  dir.Write("a/victim", std::string(kJournalBytes, '\0'));
  fs::remove(dir.Path(name));
  fs::create_hard_link(dir.Path("a/victim"), dir.Path(name));
}

// A forged journal of the other user's, with mode |mode|, that would credit the card.
void PlantJournal(const DataDir& dir, mode_t mode) {
  Change forged;
  forged.card_line = "42 S O 0 0 0 1111 F 10000000 0 S 1401959220 20146597";
  forged.appends = {{"1111.txt", 0, "1111 0 0 0 42 F 1050 S O 1401959220 20146597\n"}};
  std::string record = FormatJournalRecord(forged, "0123456789abcdef", "-");
  record[kMarkOffset] = kCommittedMark;
  dir.Write(kJournalName, record + std::string(kJournalBytes - record.size(), '\0'));
  chmod(dir.Path(kJournalName).c_str(), mode);
  ASSERT_EQ(chown(dir.Path(kJournalName).c_str(), kPlanter, kPlanter), 0);
}

// Six empty logs, as six terminal starts leave them.
void SixLogs(const DataDir& dir) {
  for (const char* log : {"1111.txt", "2222.txt", "3333.txt", "4444.txt", "5555.txt", "6666.txt"}) {
    dir.Write(log, "");
  }
}

struct Row {
  const char* name;
  std::function<void(const DataDir&)> plant;
  std::vector<Step> steps;
};

TEST(SharedDirectory, PlantedFilesAreRefusedAndGroupMembersShare) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root, to act as other users";
  const auto link = [](const char* name) {
    return [name](const DataDir& dir) { PlantLink(dir, name); };
  };
  const Step issue{0, ISSUER_BIN, "7 5000\n", std::string(kIssued) + "File Write Error."};
  const Step start{0, TERMINAL_BIN, "1\n", "File Write Error."};
  const Row rows[] = {
      {"a forged journal, the other user's and open to all",
       [](const DataDir& dir) {
         SixLogs(dir);
         PlantJournal(dir, 0666);
       },
       {{0, SETTLE_BIN, "", "Cannot find DB!"}, issue, start}},
      {"a forged journal, the other user's and open to none but that user",
       [](const DataDir& dir) {
         SixLogs(dir);
         PlantJournal(dir, 0644);
       },
       {{0, SETTLE_BIN, "", "Cannot find DB!"}, issue, start}},
      {"a hard link at the journal",
       [](const DataDir& dir) { PlantHardLink(dir, std::string(kJournalName)); },
       {issue, start}},
      {"a hard link at a report",
       [](const DataDir& dir) {
         SixLogs(dir);
         PlantHardLink(dir, "BusCompany.txt");
       },
       {{0, SETTLE_BIN, "", "Cannot write ../../BusCompany.txt!"}}},
      {"a link at the card", link("usercard.txt"), {issue}},
      {"a link at the lock", link("usercard.lock"), {issue, start}},
      {"a link at the journal", link("usercard.txt.farecard-journal"), {issue}},
      {"a link at the new card", link("usercard.txt.farecard-new"), {issue}},
      {"a link at a log",
       [](const DataDir& dir) {
         SixLogs(dir);
         PlantLink(dir, "1111.txt");
       },
       {start, {0, SETTLE_BIN, "", "Cannot find DB!"}}},
      {"a link at a station lock", link("1111.lock"), {start}},
      {"a link at a report",
       [](const DataDir& dir) {
         SixLogs(dir);
         PlantLink(dir, "SubwayCompany.txt");
       },
       {{0, SETTLE_BIN, "", "Cannot write ../../SubwayCompany.txt!"}}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    DataDir dir;
    ASSERT_EQ(chmod(dir.root().c_str(), 01777), 0);
    dir.Write("usercard.txt", kCard);
    row.plant(dir);
    // Every file there, and where each link leads, as it was planted.
    std::vector<std::pair<std::string, std::string>> before;
    for (const auto& entry : fs::recursive_directory_iterator(dir.root())) {
      const std::string name = fs::relative(entry.path(), dir.root()).string();
      if (!entry.is_directory()) before.emplace_back(name, dir.Read(name));
    }
    for (const Step& step : row.steps) Take(dir, step);
    for (const auto& [name, bytes] : before) EXPECT_EQ(dir.Read(name), bytes) << name << " changed";
  }
  {
    SCOPED_TRACE("a link of root's own is followed");
    DataDir dir;
    ASSERT_EQ(chmod(dir.root().c_str(), 01777), 0);
    dir.Write("a/mine", kCard);
    fs::create_symlink("a/mine", dir.Path("usercard.txt"));
    Take(dir, {0, ISSUER_BIN, "7 5000\n", "Create Card Complete!"});
    EXPECT_TRUE(fs::is_symlink(dir.Path("usercard.txt")));
    EXPECT_EQ(dir.Read("a/mine").substr(0, 28), "7 S O 0 0 0 1111 F 5000 0 S ");
  }
  {
    SCOPED_TRACE("a directory two members of a group share");
    DataDir dir;
    for (const std::string& path : {dir.root(), dir.root() + "/a", dir.workdir()})
      chmod(path.c_str(), 0755);
    ASSERT_EQ(chown(dir.root().c_str(), 0, kGroup), 0);
    ASSERT_EQ(chmod(dir.root().c_str(), 02775), 0);
    const auto [first, second] = kMembers;
    Take(dir, {first, ISSUER_BIN, "7 20000\n", "Create Card Complete!"});
    Take(dir, {second, TERMINAL_BIN, "1\n1\n", "Tagging is processed competely.", true});
    Take(dir, {first, TERMINAL_BIN, "2\n2\n", "Tagging is processed competely.", true});
    for (const char* log : {"3333.txt", "4444.txt", "5555.txt", "6666.txt"}) {
      Take(dir, {second, TERMINAL_BIN, std::string(1, log[0]) + "\n", "| 1.Get on  |", true});
    }
    Take(dir, {second, SETTLE_BIN, "", "Overall Fee : 1050 Won"});
    Take(dir, {first, SETTLE_BIN, "", "Overall Fee : 1050 Won"});
    EXPECT_EQ(dir.Read("usercard.txt").substr(0, 29), "7 S O 0 0 0 2222 F 18950 1050");
    // The second settlement appended to the reports the first one made.
    const std::string report = dir.Read("BusCompany.txt");
    EXPECT_NE(report.find("Bus Income : 0 Won\n", report.find("Bus Income : 0 Won\n") + 1),
              std::string::npos)
        << report;
    // Every file there the group's to write, whatever the umask of the member who made it.
    std::vector<std::pair<std::string, std::string>> before;
    for (const auto& entry : fs::directory_iterator(dir.root())) {
      struct stat info {};
      ASSERT_EQ(lstat(entry.path().c_str(), &info), 0);
      if (!S_ISREG(info.st_mode)) continue;
      const std::string name = entry.path().filename();
      EXPECT_EQ(info.st_gid, kGroup) << name;
      EXPECT_EQ(info.st_mode & 0777, 0664u) << name;
      before.emplace_back(name, dir.Read(name));
    }
    // A user outside the group may read there but is refused every change, for what it is.
    const char* denied = "Permission denied";
    Take(dir, {kOutsider, ISSUER_BIN, "8 100\n", "File Write Error.", false, denied});
    Take(dir, {kOutsider, TERMINAL_BIN, "3\n", "File Write Error.", false, denied});
    Take(dir, {kOutsider, SETTLE_BIN, "", "Cannot write ../../SubwayCompany.txt!", false, denied});
    for (const auto& [name, bytes] : before) EXPECT_EQ(dir.Read(name), bytes) << name << " changed";
  }
}

}  // namespace
