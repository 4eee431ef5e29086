// SPDX-License-Identifier: Apache-2.0
// The real programs in data directories other users can write to. In a sticky world-writable
// directory another user (uid 4242) plants a forged journal, or a link under each name the
// programs write, or a hard link at the journal or a report: run by root, the programs refuse
// them with their usual line and change no file anywhere, and what they make themselves there is
// nobody else's to write. In a directory a group shares, two members with umask 022 issue, tag
// and settle on each other's files, which all stay the group's, with or without the set-group-ID
// bit; a user outside the group is refused for want of permission.
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <functional>

#include <gtest/gtest.h>

#include "Harness.h"
#include "Journal.h"

namespace {

namespace fs = std::filesystem;

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

// Every file of |dir|, and where each link leads.
std::vector<std::pair<std::string, std::string>> Files(const DataDir& dir) {
  std::vector<std::pair<std::string, std::string>> files;
  for (const auto& entry : fs::recursive_directory_iterator(dir.root())) {
    const std::string name = fs::relative(entry.path(), dir.root()).string();
    if (!entry.is_directory()) files.emplace_back(name, dir.Read(name));
  }
  return files;
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
    const auto before = Files(dir);
    for (const Step& step : row.steps) Take(dir, step);
    const auto after = Files(dir);
    for (const auto& file : before) {
      EXPECT_NE(std::find(after.begin(), after.end(), file), after.end())
          << file.first << " changed";
    }
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
    const auto before = Files(dir);
    const char* denied = "Permission denied";
    Take(dir, {kOutsider, ISSUER_BIN, "8 100\n", "File Write Error.", false, denied});
    Take(dir, {kOutsider, TERMINAL_BIN, "3\n", "File Write Error.", false, denied});
    Take(dir, {kOutsider, SETTLE_BIN, "", "Cannot write ../../SubwayCompany.txt!", false, denied});
    EXPECT_EQ(Files(dir), before);
  }
}

}  // namespace
