// SPDX-License-Identifier: Apache-2.0
// Power cuts at every step. Each row changes the books once in this process while the file seam
// records every change; then, for each step, every state a power cut may leave is laid out (for
// each file what was synced plus any prefix of its later writes, the last perhaps torn; names
// only as far as their directory was synced) and recovered: after a restart, where the books
// must be exactly the change done or not done, and done once shown; and in the same boot, as a
// disk pulled and mounted again leaves it, where a change shown may be undone only where the card
// it left is the card before. A second pass fails every change from each step on, or that one
// alone, as a disk that gives up: then the books must be what the console said.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <functional>
#include <map>
#include <regex>
#include <set>

#include <gtest/gtest.h>

#include "BookFiles.h"
#include "DataFiles.h"
#include "FileChanges.h"
#include "Harness.h"
#include "Journal.h"
#include "LogFile.h"
#include "Settle.h"
#include "Terminal.h"

namespace {

namespace fs = std::filesystem;
using Files = std::map<std::string, std::string>;  // name in the data directory -> bytes

constexpr std::int32_t kHere = 3333;
constexpr const char* kBoot = "boot-before";
constexpr std::int64_t kNow = 1401960220;
const std::string kTestCard = "42 S O 1050 0 0 3333 F 10000000 777 Z 1401959220 20146597";

// A file as a power cut sees it: what was synced, and the writes and cuts since.
struct Inode {
  std::string synced, now;
  std::vector<FileChange> since;
};

// The directory as a power cut sees it. Inodes are counted as they appear: a removed file's
// number may come back for a new one.
struct Disk {
  std::vector<Inode> files;
  std::map<std::uint64_t, std::size_t> live;
  std::map<std::string, std::size_t> names, synced_names;
};

void ApplyTo(std::string& bytes, const FileChange& change) {
  const std::size_t end = change.offset + change.bytes.size();
  if (change.kind == FileChange::kTruncate || bytes.size() < end) {
    bytes.resize(change.kind == FileChange::kTruncate ? change.offset : end, '\0');
  }
  bytes.replace(change.offset, change.bytes.size(), change.bytes);
}

void Replay(Disk& disk, const FileChange& change) {
  using K = FileChange;
  if (change.kind == K::kCreate) {
    disk.live[change.file] = disk.names[change.name] = disk.files.size();
    disk.files.emplace_back();
  } else if (change.kind == K::kWrite || change.kind == K::kTruncate) {
    Inode& file = disk.files.at(disk.live.at(change.file));
    ApplyTo(file.now, change);
    file.since.push_back(change);
  } else if (change.kind == K::kSync) {
    Inode& file = disk.files.at(disk.live.at(change.file));
    file.synced = file.now;
    file.since.clear();
  } else if (change.kind == K::kRename) {
    disk.names[change.to] = disk.names.at(change.name);
    disk.names.erase(change.name);
  } else if (change.kind == K::kExchange) {
    std::swap(disk.names.at(change.name), disk.names.at(change.to));
  } else if (change.kind == K::kRemove) {
    disk.names.erase(change.name);
  } else {
    disk.synced_names = disk.names;
  }
}

// Every state a power cut may leave of |disk|.
std::set<Files> CutStates(const Disk& disk) {
  std::set<Files> states{{}};
  for (const auto& [name, index] : disk.synced_names) {
    const Inode& file = disk.files[index];
    std::vector<std::string> kept{file.synced};  // and each prefix of the writes since, torn too
    for (const FileChange& change : file.since) {
      FileChange torn = change;
      torn.bytes.resize(change.bytes.size() / 2);
      kept.push_back(kept.back());
      if (change.kind == FileChange::kWrite && change.bytes.size() > 1) {
        ApplyTo(kept.back(), torn);
        kept.push_back(kept[kept.size() - 2]);
      }
      ApplyTo(kept.back(), change);
    }
    std::set<Files> grown;
    for (Files state : states) {
      for (const std::string& bytes : kept) {
        state[name] = bytes;
        grown.insert(state);
      }
    }
    states = grown;
  }
  return states;
}

// What a killed process leaves (all it wrote), or the power cut that keeps least (all synced).
Files StateOf(const Disk& disk, bool killed) {
  Files state;
  for (const auto& [name, index] : killed ? disk.names : disk.synced_names) {
    state[name] = killed ? disk.files[index].now : disk.files[index].synced;
  }
  return state;
}

void LayOut(const DataDir& dir, const Files& state) {
  for (const auto& entry : fs::directory_iterator(dir.root())) {
    if (entry.is_regular_file()) fs::remove(entry.path());
  }
  for (const auto& [name, bytes] : state) dir.Write(name, bytes);
}

// What the rows compare: the card, this terminal's log, the runs a start kept, the reports and
// the settlements (a file made but never written holds no lines, as a missing one).
Files Books(const DataDir& dir) {
  Files books{{"card", dir.Read(kCardFileName)}, {"log", dir.Read(LogFileName(kHere))}};
  for (const auto& entry : fs::directory_iterator(dir.root())) {
    const std::string name = entry.path().filename();
    std::string bytes = entry.is_regular_file() ? dir.Read(name) : "";
    if (bytes.empty()) continue;
    // A settlement's line names its log's inode, which another directory's run does not share.
    if (name == kSettlementsName)
      bytes = std::regex_replace(bytes, std::regex("txt [0-9]+ "), "txt ");
    if (name.starts_with(LogFileName(kHere) + ".run-") ||
        (IsAppendedFileName(name) && name != LogFileName(kHere))) {
      books.emplace(name, bytes);
    }
  }
  return books;
}

// Recovers as the next program's start does, in |boot|, and sorts the kept runs as the next
// start and settlement of kept runs do; the books it leaves.
Files Recover(const DataDir& dir, const char* boot) {
  SetBootId(boot);
  HeldBooks books = LockBooks(kCardBooks);
  EXPECT_TRUE(Held(books));
  UnlockBooks(books);
  EXPECT_TRUE(SortKeptRuns());
  SetBootId(kBoot);
  return Books(dir);
}

// Runs |change| on the books held, as the programs do; what it printed, or "done"/"failed".
std::string UnderLock(const std::function<bool(HeldBooks&)>& change) {
  testing::internal::CaptureStdout();
  HeldBooks books = LockBooks(kCardBooks);
  const bool ok = Held(books) && change(books);
  UnlockBooks(books);
  const std::string printed = testing::internal::GetCapturedStdout();
  return printed.empty() ? (ok ? "done" : "failed") : printed;
}

// A tag as the menu takes it (the menu prints the failure line for books it cannot hold).
std::string Tag(int choice) {
  return UnderLock([choice](HeldBooks& books) {
    choice == 1 ? OnSensorHandler(books) : OffSensorHandler(books);
    return true;
  });
}

// A card at 3333 with |tags| tags taken there before, whose records the journal then holds.
void CardWithEarlierTags(std::size_t tags) {
  UnderLock([](HeldBooks& books) { return CardWriter(books, *ParseCardLine(kTestCard)); });
  for (std::size_t i = 0; i < tags; ++i) Tag(i % 2 == 0 ? 1 : 2);
}

struct Row {
  const char* name;
  std::size_t earlier_tags;
  std::function<std::string()> change;
  const char* done;  // the answer of a change done
  // Whether any other answer means not done: a start that failed serves nothing, log or not.
  bool refusal_binds = true;
  std::function<void()> then = [] {};  // more to lay out, after the tags
};

// Records, as a settlement does, that the log's lines so far are settled.
void MarkSettled() {
  const int log = open(DataPath(LogFileName(kHere)).c_str(), O_RDONLY | O_CLOEXEC);
  const auto stamp = ContentStamp(log, static_cast<std::uint64_t>(lseek(log, 0, SEEK_END)));
  close(log);
  const BookAppend mark{std::string(kSettlementsName), LogFileName(kHere) + " " + *stamp + "\n"};
  UnderLock([&](HeldBooks& books) { return CommitChange(books, "", {mark}).done; });
}

std::string Printed(const std::function<void()>& run) {
  testing::internal::CaptureStdout();
  run();
  return testing::internal::GetCapturedStdout();
}

// clang-format off
const Row kRows[] = {
    {"terminal start", 3, [] { return UnderLock(DBInit); }, "done", false},
    {"get-on", 2, [] { return Tag(1); }, kChargedLine},
    {"get-off", 1, [] { return Tag(2); }, kChargedLine},
    {"checkpoint of a full journal, then a get-on", kCheckpointRecords - 1, [] { return Tag(1); },
     kChargedLine},
    {"issuer card", 1, [] { return UnderLock([](HeldBooks& books) {
       return CardWriter(books, *ParseCardLine("7 S O 0 0 0 1111 F 5000 0 S 1401959220 2014659"));
     }); }, "done"},
    {"settlement's two reports", 1, [] { return Printed([] {
       OutputHandler(EntryTable{}, Income{1250, -459, kNow, "3333.txt 1 2 3\n"}, 0); }); },
     "Overall Fee : 791 Won"},
    {"terminal start, the run split where a settlement ended", 2,
     [] { return UnderLock(DBInit); }, "done", false, [] { MarkSettled(); Tag(1); }},
    {"settlement of the kept runs", 2, [] { return Printed(SettleKeptRuns); },
     "Overall Fee : 1050 Won", true, [] { UnderLock(DBInit); Tag(1); UnderLock(DBInit); }},
};
// clang-format on

// The row's books laid out and its change run once in an empty directory, every change
// recorded from the start: only what was synced on the way counts as on the disk.
struct RowRun {
  Files before, after;
  Disk disk;
  std::vector<FileChange> changes;
  std::string printed;
};

RowRun RunRow(const DataDir& dir, const Row& row, const std::function<void()>& failing = {}) {
  SetBootId(kBoot);
  WhatTerm = kHere;
  SetCurrentTime(kNow);
  StartRecording();
  CardWithEarlierTags(row.earlier_tags);
  row.then();
  RowRun run{Books(dir), {}, {}, {}, {}};
  for (const FileChange& change : StopRecording()) Replay(run.disk, change);
  StartRecording();
  if (failing) failing();
  testing::internal::CaptureStderr();
  run.printed = row.change();
  testing::internal::GetCapturedStderr();
  FailChangesFrom(0, 0);
  run.changes = StopRecording();
  run.after = Books(dir);
  return run;
}

TEST(PowerLoss, EveryCutLeavesTheChangeDoneOrNotDone) {
  for (const Row& row : kRows) {
    DataDir dir;
    const RowRun run = RunRow(dir, row);
    ASSERT_NE(run.printed.find(row.done), std::string::npos) << row.name << ": " << run.printed;
    ASSERT_NE(run.before, run.after) << row.name;
    Disk disk = run.disk;
    for (std::size_t step = 0; step <= run.changes.size(); ++step) {
      if (step > 0) Replay(disk, run.changes[step - 1]);
      // |lost|: found in the same boot, as a disk pulled and mounted again leaves it.
      const auto check = [&](const Files& state, const char* boot, bool lost) {
        SCOPED_TRACE(std::string(row.name) + ", step " + std::to_string(step) + ", " + boot +
                     (lost ? ", writes lost" : ""));
        LayOut(dir, state);
        testing::internal::CaptureStderr();
        const Files books = Recover(dir, boot);
        const std::string said = testing::internal::GetCapturedStderr();
        EXPECT_TRUE(books == run.before || books == run.after) << books.at("card");
        // A whole card is never written over in silence; nothing else is written over at all.
        const auto card = state.find(std::string(kCardFileName));
        const bool whole = card != state.end() && IsCardLine(card->second);
        const bool named = whole && card->second != books.at("card");
        EXPECT_EQ(CountOf(said, "\n"), named ? 1u : 0u) << said;
        EXPECT_EQ(said.find("../../usercard.txt: an earlier card of the journal's"),
                  named ? said.find(' ') + 1 : std::string::npos)
            << said;
        // Shown done, it stays done; only a lost disk may take it back, where the card it left
        // is whole and the card before, as a failed flush leaves it.
        if (step == run.changes.size() &&
            !(lost && whole && card->second == run.before.at("card"))) {
          EXPECT_EQ(books, run.after);
        }
      };
      for (const Files& state : CutStates(disk)) {
        check(state, "boot-after", false);
        check(state, kBoot, true);
      }
      check(StateOf(disk, true), kBoot, false);
    }
  }
}

TEST(PowerLoss, WhatTheConsoleSaidIsTheTruthWhenTheDiskGivesUp) {
  for (const Row& row : kRows) {
    RowRun healthy;
    {
      DataDir dir;
      healthy = RunRow(dir, row);
    }
    for (std::size_t step = 1; step <= healthy.changes.size(); ++step) {
      // Every change fails from this step on, or only this one (a flush perhaps writing all the
      // same).
      for (const std::size_t failing : {SIZE_MAX, std::size_t{1}}) {
        SCOPED_TRACE(std::string(row.name) + ", failing from step " + std::to_string(step) +
                     (failing == 1 ? ", only that change" : ""));
        DataDir dir;
        const RowRun run = RunRow(dir, row, [&] { FailChangesFrom(step, EIO, failing); });
        const bool done = run.printed.find(row.done) != std::string::npos;
        const Files& truth = done ? healthy.after : healthy.before;
        Disk disk = run.disk;
        for (const FileChange& change : run.changes) Replay(disk, change);
        LayOut(dir, StateOf(disk, true));
        const Files killed = Recover(dir, kBoot);
        EXPECT_TRUE(killed == truth || (!done && !row.refusal_binds && killed == healthy.after));
        // After a power cut too, a change shown done stays done. One refused may be done after
        // all if its flush went through and the disk gave up just after: nothing can then tell a
        // restarted machine. A disk that failed the flush alone lets the record be wiped.
        LayOut(dir, StateOf(disk, false));
        const Files books = Recover(dir, "boot-after");
        if (done || (failing == 1 && row.refusal_binds)) {
          EXPECT_EQ(books, truth) << run.printed;
        } else {
          EXPECT_TRUE(books == healthy.before || books == healthy.after) << run.printed;
        }
      }
    }
  }
}

// What recovery does with the records it finds: it puts in place a committed one whatever its
// mark, any a restart left, one pending in this boot whose card was lost, and a whole record of
// versions 1.0.0 to 1.2; it drops a torn one, and one pending in this boot while the card is
// the one before it; it names, keeps and never puts in place a damaged one. A card no record
// holds stands, the lines put in place all the same; what is written over is named. One more
// tag then leaves a journal recovered in silence.
TEST(PowerLoss, RecordsArePutInPlaceDroppedOrKeptAsTheyStand) {
  const std::string card = kTestCard;
  const std::string on = "42 S I 1050 0 0 3333 F 8950 777 Z 1401959220 20146597";
  const std::string off = "42 S O 0 200 0 3333 F 8750 1250 Z 1401959220 20146597";
  const std::string topped = "42 S O 1050 0 0 3333 F 8030000 777 Z 1401959220 20146597";
  const std::string line = "3333 1050 0 0 42 F 777 Z I 1401959220 20146597\n";
  const std::string off_line = "3333 0 0 200 42 F 1250 Z O 1401959220 20146597\n";
  const Change tag{card, true, on, {{"3333.txt", 0, line}}};
  const Change next{on, true, off, {{"3333.txt", line.size(), off_line}}};
  const Change no_card{card, true, "42 S O\n", tag.appends};
  Change longer = tag;  // longer than the next tag's record, which is written over it
  longer.appends.push_back({"SubwayCompany.txt", 0, std::string(150, 'x') + "\n"});
  // A record marked |mark|, cut to |cut| bytes, its byte |flip| changed, after |before|.
  const auto journal = [](char mark, const Change& change, std::string before = "",
                          const char* boot = kBoot, std::size_t cut = std::string::npos,
                          std::size_t flip = std::string::npos) {
    std::string bytes = FormatJournalRecord(change, "0123456789abcdef", boot).substr(0, cut);
    bytes[kMarkOffset] = mark;
    if (flip < bytes.size()) bytes[flip] ^= 1;
    before += bytes;
    return before + std::string(kJournalBytes - before.size(), '\0');
  };
  const std::string first = journal('a', tag).substr(0, journal('a', tag).find('\0'));
  // Records of versions 1.2 and 1.0.0 as they wrote them: sizes, fields and FNV-1a sum.
  const std::string old_body = on + "3333.txt" + line;
  const std::string old_record =
      "FJc 0123456789abcdef boot-before 53 8 0 47\n" + old_body + "1ae4c1fdfa373014\n";
  const std::string oldest = "53 8 0 47\n" + old_body + "30e6c59af96bd121\n";
  std::string changed = line;
  changed.replace(5, 4, "10500");  // longer: what follows the line put back must go
  const auto books = [](const std::string& c, const std::string& log) {
    return Files{{"card", c}, {"log", log}};
  };
  const char* earlier = "usercard.txt: an earlier card of the journal's; put back";
  const std::string damaged = "damaged record at byte ";
  const std::size_t npos = std::string::npos;
  const auto zeros = [](std::size_t n) { return std::string(n, '\0'); };
  const struct {
    const char* name;
    std::string journal;
    Files after;
    std::vector<std::string> said;  // a piece of each line on standard error
    std::string card_file = kTestCard, log_file = "";
  } rows[] = {
      // clang-format off
      {"committed", journal('c', tag), books(on, line), {earlier}},
      {"applied, but lost with a pulled disk", journal('a', tag), books(on, line), {earlier}},
      {"applied, the card an earlier record wrote", journal('a', next, first),
       books(off, line + off_line), {earlier}, on, line},
      {"a byte changed", journal('c', tag, "", kBoot, npos, first.find("8950")), books(card, ""),
       {damaged + "0"}},
      {"summed right, but its card line no card", journal('c', no_card), books(card, ""),
       {damaged + "0"}},
      {"zeroed in front of one of its generation", journal('a', next, first + zeros(first.size())),
       books(on, line), {earlier, damaged + std::to_string(first.size())}},
      {"a head of no known kind, then zeros", "FXc 0123 b 0\n" + zeros(kJournalBytes),
       books(card, ""), {damaged + "0"}},
      {"torn", journal('c', tag, "", kBoot, first.size() / 2), books(card, ""), {}},
      {"torn in its head", journal('c', tag, "", kBoot, 20), books(card, ""), {}},
      {"torn near its end, longer than the record after it",
       journal('c', longer, "", kBoot, journal('c', longer).find('\0') - 4),
       books(card, ""), {}},
      {"torn after a whole one", journal('c', next, first, kBoot, first.size() / 2), books(on, line),
       {earlier}},
      {"pending in this boot", journal('p', tag), books(card, ""), {}},
      {"pending in this boot, the card file empty", journal('p', tag), books(on, line), {}, ""},
      {"pending in this boot, the card cut short", journal('p', tag), books(on, line), {}, "42 S"},
      {"pending before a restart", journal('p', tag, "", "boot-earlier"), books(on, line),
       {earlier}},
      {"committed, the card topped up by hand since", journal('c', tag), books(topped, line), {},
       topped},
      {"applied, its log line changed by hand since", journal('a', tag), books(on, line),
       {"3333.txt: byte 0: not what the journal's record at byte 0 holds; put back"}, on, changed},
      {"of version 1.2", old_record + zeros(kJournalBytes), books(on, line), {earlier}},
      {"of version 1.0.0", oldest, books(on, line), {earlier}},
      {"of version 1.0.0, torn", oldest.substr(0, 40), books(card, ""), {}},
      // clang-format on
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    DataDir dir;
    dir.Write(kCardFileName, row.card_file);
    dir.Write("3333.txt", row.log_file);
    dir.Write(kJournalName, row.journal);
    testing::internal::CaptureStderr();
    const Files after = Recover(dir, kBoot);
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_EQ(after, row.after);
    EXPECT_EQ(CountOf(said, "\n"), row.said.size()) << said;
    for (const std::string& piece : row.said)
      EXPECT_NE(said.find(piece), std::string::npos) << said;
    const bool kept = row.said.size() > 0 && row.said.back().starts_with(damaged);
    EXPECT_EQ(dir.Read("usercard.txt.farecard-damaged-1") == row.journal, kept);
    // A card someone else wrote ends the journal's hold on the card: it is checkpointed.
    EXPECT_TRUE(after.at("card") != topped || dir.Read(kJournalName) == zeros(kJournalBytes));
    // What was cut short or damaged is written over, not followed.
    WhatTerm = kHere;
    SetCurrentTime(kNow);
    EXPECT_NE(Tag(ParseCardLine(after.at("card"))->inOut == 'I' ? 2 : 1).find(kChargedLine),
              std::string::npos);
    testing::internal::CaptureStderr();
    EXPECT_EQ(CountOf(Recover(dir, kBoot).at("log"), "\n"), CountOf(after.at("log"), "\n") + 1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  }
}

}  // namespace
