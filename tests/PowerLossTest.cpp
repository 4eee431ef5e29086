// SPDX-License-Identifier: Apache-2.0
// Power cuts at every step: a row changes the books once, every file change recorded; each state a
// cut may leave after each step (per file its synced bytes and any prefix of the writes since, the
// last perhaps torn; names as far as their directory was synced) is recovered. After a restart the
// books are the change done or not, done if shown; in the same boot (a pulled disk) a change shown
// may be undone only where it left the card before. A disk failing from a step on shows the truth.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
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

using Files = std::map<std::string, std::string>;  // name in the data directory -> bytes

constexpr std::int32_t kHere = 3333;
constexpr const char* kBoot = "boot-before";
constexpr std::int64_t kNow = 1401960220;
constexpr std::size_t npos = std::string::npos;
const std::string kNone = "<missing>";  // what DataDir::Read answers for a missing file
const std::string kCard = "42 S O 1050 0 0 3333 F 10000000 777 Z 1401959220 20146597";

// The directory as a power cut sees it: what each file created (an inode may come back) may hold.
struct Disk {
  std::vector<std::vector<std::string>> files;
  std::map<std::uint64_t, std::size_t> live;
  std::map<std::string, std::size_t> names, synced_names;
};
// |bytes| after the first |size| bytes of a write, or after a cut.
std::string Applied(std::string bytes, const FileChange& change, std::size_t size) {
  const std::string part = change.bytes.substr(0, size);  // none for a cut
  if (change.kind == FileChange::kTruncate || bytes.size() < change.offset + part.size())
    bytes.resize(change.offset + part.size());
  return bytes.replace(change.offset, part.size(), part);
}
void Replay(Disk& disk, const FileChange& change) {
  if (change.kind == FileChange::kCreate) {
    disk.live[change.file] = disk.names[change.name] = disk.files.size();
    disk.files.push_back({""});
  } else if (change.kind <= FileChange::kSync) {  // a write, a cut or a flush
    auto& kept = disk.files.at(disk.live.at(change.file));
    const std::size_t size = change.bytes.size();
    if (size > 1) kept.push_back(Applied(kept.back(), change, size / 2));
    if (change.kind != FileChange::kSync) kept.push_back(Applied(kept.back(), change, size));
    if (change.kind == FileChange::kSync) kept.erase(kept.begin(), kept.end() - 1);
  } else if (change.kind == FileChange::kExchange) {
    std::swap(disk.names.at(change.name), disk.names.at(change.to));
  } else if (change.kind != FileChange::kSyncDirectory) {  // a rename or a removal
    if (change.kind == FileChange::kRename) disk.names[change.to] = disk.names.at(change.name);
    disk.names.erase(change.name);
  } else {
    disk.synced_names = disk.names;
  }
}
// Every state a power cut may leave of |disk|.
std::set<Files> CutStates(const Disk& disk) {
  std::set<Files> states{{}};
  for (const auto& [name, index] : disk.synced_names) {
    std::set<Files> grown;
    for (Files state : states)
      for (const std::string& bytes : disk.files[index]) grown.insert((state[name] = bytes, state));
    states = grown;
  }
  return states;
}
// What a killed process leaves (all it wrote), or the power cut that keeps least (all synced).
Files StateOf(const Disk& disk, bool killed) {
  Files state;
  for (const auto& [name, index] : killed ? disk.names : disk.synced_names)
    state[name] = killed ? disk.files[index].back() : disk.files[index].front();
  return state;
}
// Runs |change| on the books held, as the programs do.
bool UnderLock(const std::function<bool(HeldBooks&)>& change) {
  HeldBooks books = LockBooks(kCardBooks);
  const bool ok = Held(books) && change(books);
  UnlockBooks(books);
  return ok;
}
// A tag as the menu takes it (the menu prints the failure line for books it cannot hold).
bool Tag(int choice) {
  const auto handler = choice == 1 ? OnSensorHandler : OffSensorHandler;
  return UnderLock([handler](HeldBooks& books) { return handler(books), true; });
}
// What the rows compare: the card, this log, and the kept runs, reports and settlements that hold
// lines (a file made but never written is as a missing one).
Files Books(const DataDir& dir) {
  const std::string log = LogFileName(kHere);
  Files books{{"card", dir.Read(kCardFileName)}, {"log", dir.Read(log)}};
  for (const auto& entry : std::filesystem::directory_iterator(dir.root())) {
    const std::string name = entry.path().filename(), bytes = dir.Read(name);
    const bool kept = name.starts_with(log + ".run-") || (IsAppendedFileName(name) && name != log);
    // A settlement's line names its log's inode, which another directory's run does not share.
    static const std::regex inode("txt \\d+ ");
    if (kept && !bytes.empty()) books[name] = std::regex_replace(bytes, inode, "txt ");
  }
  return books;
}
// Lays |state| out, if any, and recovers as the next start does, in |boot|, sorting the kept runs
// as the next settlement of them does: the books it leaves, and what it said on standard error.
std::pair<Files, std::string> Recover(const DataDir& dir, const char* boot,
                                      const std::optional<Files>& state = {}) {
  for (const auto& entry : std::filesystem::directory_iterator(dir.root()))
    if (state && entry.is_regular_file()) std::filesystem::remove(entry.path());
  for (const auto& [name, bytes] : state.value_or(Files{}))
    if (bytes != kNone) dir.Write(name, bytes);
  SetBootId(boot);
  testing::internal::CaptureStderr();
  EXPECT_TRUE(UnderLock([](HeldBooks&) { return true; }));
  EXPECT_TRUE(SortKeptRuns());
  return {Books(dir), testing::internal::GetCapturedStderr()};
}
struct Row {
  const char* name;
  std::size_t earlier_tags;  // at 3333, on a card issued there, their records in the journal
  std::function<bool()> change;
  const char* done;           // what a change done prints, or "done" for one that prints nothing
  bool refusal_binds = true;  // any other answer is not done (a failed start serves nothing)
  std::function<void()> then = [] {};  // more to lay out, after the tags
};

// clang-format off
const Row kRows[] = {
    {"terminal start", 3, [] { return UnderLock(DBInit); }, "done", false},
    {"get-on", 2, [] { return Tag(1); }, kChargedLine},
    {"get-off", 1, [] { return Tag(2); }, kChargedLine},
    {"full journal checkpointed", kCheckpointRecords - 1, [] { return Tag(1); }, kChargedLine},
    {"issuer card", 1, [] { return UnderLock([](HeldBooks& books) { return CardWriter(books,
       *ParseCardLine("7 S O 0 0 0 1111 F 5000 0 S 1401959220 2014659")); }); }, "done"},
    {"settlement's two reports", 1, [] { OutputHandler(EntryTable{}, Income{1250, -459, kNow,
       "3333.txt 1 2 3\n"}, 0); return true; }, "Overall Fee : 791 Won"},
    {"terminal start, the run split where a settlement ended", 2, [] { return UnderLock(DBInit); },
     "done", false, [] {  // settled as far as the log stands, then one more tag
       const int log = open(DataPath("3333.txt").c_str(), O_RDONLY | O_CLOEXEC);
       const auto stamp = ContentStamp(log, static_cast<std::uint64_t>(lseek(log, 0, SEEK_END)));
       const BookAppend mark{std::string(kSettlementsName), "3333.txt " + *stamp + "\n"};
       UnderLock([&](HeldBooks& books) { return CommitChange(books, "", {mark}).done; });
       close(log); Tag(1); }},
    {"settlement of the kept runs", 2, [] { SettleKeptRuns(); return true; },
     "Overall Fee : 1050 Won", true, [] { UnderLock(DBInit); Tag(1); UnderLock(DBInit); }},
};
// clang-format on

// The row laid out and run in an empty directory, recorded, failing as FailChangesFrom says.
struct RowRun {
  Files before, after;
  Disk disk;
  std::vector<FileChange> changes;
  std::string printed;
};
RowRun RunRow(const DataDir& dir, const Row& row, std::size_t from = 0, std::size_t count = 0) {
  SetBootId(kBoot);
  WhatTerm = kHere;
  SetCurrentTime(kNow);
  StartRecording();
  testing::internal::CaptureStdout();
  UnderLock([](HeldBooks& books) { return CardWriter(books, *ParseCardLine(kCard)); });
  for (std::size_t i = 0; i < row.earlier_tags; ++i) Tag(i % 2 == 0 ? 1 : 2);
  row.then();
  testing::internal::GetCapturedStdout();
  RowRun run{Books(dir), {}, {}, {}, {}};
  for (const FileChange& change : StopRecording()) Replay(run.disk, change);
  StartRecording();
  FailChangesFrom(from, EIO, count);
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  const bool ok = row.change();
  run.printed = testing::internal::GetCapturedStdout() + (ok ? "done" : "failed");
  testing::internal::GetCapturedStderr();
  FailChangesFrom(0, 0);
  run.changes = StopRecording();
  run.after = Books(dir);
  return run;
}

TEST(PowerLoss, EveryCutLeavesTheChangeDoneOrNotDone) {
  for (const Row& row : kRows) {
    DataDir dir;
    RowRun run = RunRow(dir, row);
    ASSERT_NE(run.printed.find(row.done), npos) << row.name << ": " << run.printed;
    ASSERT_NE(run.before, run.after) << row.name;
    for (std::size_t step = 0; step <= run.changes.size(); ++step) {
      if (step > 0) Replay(run.disk, run.changes[step - 1]);
      const auto check = [&](const Files& state, const char* boot, bool lost) {
        SCOPED_TRACE(std::string(row.name) + ", step " + std::to_string(step) + ", " + boot +
                     (lost ? ", writes lost" : ""));
        const auto [books, said] = Recover(dir, boot, state);
        EXPECT_TRUE(books == run.before || books == run.after) << books.at("card");
        // A whole card is never written over in silence; nothing else is written over at all.
        const std::string card = state.contains("usercard.txt") ? state.at("usercard.txt") : "";
        const bool whole = IsCardLine(card), named = whole && card != books.at("card");
        EXPECT_EQ(said.find(": ../../usercard.txt: an earlier"), named ? said.find(' ') - 1 : npos);
        EXPECT_EQ(CountOf(said, "\n"), named ? 1u : 0u) << said;
        // Shown done, it stays done, but for a lost disk that left the card before, whole.
        EXPECT_TRUE(step < run.changes.size() || books == run.after ||
                    (lost && whole && card == run.before.at("card")));
      };
      for (const Files& state : CutStates(run.disk)) {
        check(state, "boot-after", false);
        check(state, kBoot, true);
      }
      check(StateOf(run.disk, true), kBoot, false);
    }
  }
}

TEST(PowerLoss, WhatTheConsoleSaidIsTheTruthWhenTheDiskGivesUp) {
  for (const Row& row : kRows) {
    const RowRun healthy = RunRow(DataDir(), row);
    for (std::size_t step = 1; step <= healthy.changes.size(); ++step) {
      // Every change fails from this step on, or only this one (a flush may write all the same).
      for (const bool alone : {false, true}) {
        SCOPED_TRACE(row.name + (", step " + std::to_string(step) + (alone ? " fails" : "+ fail")));
        DataDir dir;
        RowRun run = RunRow(dir, row, step, alone ? 1 : SIZE_MAX);
        const bool done = run.printed.find(row.done) != npos;
        const Files& truth = done ? healthy.after : healthy.before;
        for (const FileChange& change : run.changes) Replay(run.disk, change);
        const Files killed = Recover(dir, kBoot, StateOf(run.disk, true)).first;
        EXPECT_TRUE(killed == truth || (!done && !row.refusal_binds && killed == healthy.after));
        // So after a power cut, unless a refused flush went through; one failing alone is wiped.
        const Files books = Recover(dir, "boot-after", StateOf(run.disk, false)).first;
        const bool may_be_done = !done && (!alone || !row.refusal_binds);
        EXPECT_TRUE(books == truth || (may_be_done && books == healthy.after)) << run.printed;
      }
    }
  }
}

// Recovery puts in place a record whatever its mark, any a restart left, one pending in this boot
// whose card was lost, ones of 1.0.0 to 1.2; drops a torn one, and one pending over the card
// before; keeps aside a damaged one. A card no record holds stands; what is written over is named.
TEST(PowerLoss, RecordsArePutInPlaceDroppedOrKeptAsTheyStand) {
  static const std::string on = "42 S I 1050 0 0 3333 F 8950 777 Z 1401959220 20146597";
  const std::string off = "42 S O 0 200 0 3333 F 8750 1250 Z 1401959220 20146597";
  const std::string topped = "42 S O 1050 0 0 3333 F 8030000 777 Z 1401959220 20146597";
  static const std::string line = "3333 1050 0 0 42 F 777 Z I 1401959220 20146597\n";
  const std::string off_line = "3333 0 0 200 42 F 1250 Z O 1401959220 20146597\n";
  const Change tag{kCard, true, on, {{"3333.txt", 0, line}}};
  const Change next{on, true, off, {{"3333.txt", line.size(), off_line}}};
  Change longer = tag;  // longer than the next tag's record, which is written over it
  longer.appends.push_back({"SubwayCompany.txt", 0, std::string(150, 'x') + "\n"});
  const std::string zeros(kJournalBytes, '\0');
  // A record marked |mark|, cut to |cut| bytes, after |before|.
  const auto journal = [&](char mark, const Change& change, const std::string& before = "",
                           const char* boot = kBoot, std::size_t cut = npos) {
    std::string bytes = FormatJournalRecord(change, "0123456789abcdef", boot).substr(0, cut);
    bytes[kMarkOffset] = mark;
    return (before + bytes + zeros).substr(0, kJournalBytes);
  };
  const std::string first = journal('a', tag).substr(0, journal('a', tag).find('\0'));
  // Records of versions 1.2 and 1.0.0 as they wrote them: sizes, fields and FNV-1a sum.
  const std::string old_record = "FJc 0123456789abcdef boot-before 53 8 0 47\n" + on + "3333.txt" +
                                 line + "1ae4c1fdfa373014\n";
  const std::string oldest = "53 8 0 47\n" + on + "3333.txt" + line + "30e6c59af96bd121\n";
  // Longer than |line|: what follows the line put back must go.
  const std::string changed = "3333 10500 0 0 42 F 777 Z I 1401959220 20146597\n";
  const char* earlier = "usercard.txt: an earlier card of the journal's; put back";
  const std::string damaged = "damaged record at byte ", bad = damaged + "0";
  const struct {
    const char* name;
    std::string journal;
    std::vector<std::string> said;  // a piece of each line on standard error
    std::string card = on, log = line, card_file = kCard, log_file = "";  // recovered, laid out
  } rows[] = {
      // clang-format off
      {"committed", journal('c', tag), {earlier}},
      {"applied, the card an earlier record wrote", journal('a', next, first), {earlier}, off,
       line + off_line, on, line},
      {"a byte changed", journal('c', tag).replace(first.find("8950"), 1, "9"), {bad}, kCard, ""},
      {"summed right, but its card line no card",
       journal('c', {kCard, true, "42 S O", tag.appends}), {bad}, kCard, ""},
      {"zeroed in front of one of its generation",
       journal('a', next, first + zeros.substr(0, first.size())),
       {earlier, damaged + std::to_string(first.size())}},
      {"a head of no known kind, then zeros", "FXc 0123 b" + zeros, {bad}, kCard, ""},
      {"torn", journal('c', tag, "", kBoot, first.size() / 2), {}, kCard, ""},
      {"torn in its head", journal('c', tag, "", kBoot, 20), {}, kCard, ""},
      {"torn near its end, longer than the record after it",
       journal('c', longer, "", kBoot, journal('c', longer).find('\0') - 4), {}, kCard, ""},
      {"torn after a whole one", journal('c', next, first, kBoot, first.size() / 2), {earlier}},
      {"pending in this boot", journal('p', tag), {}, kCard, ""},
      {"pending in this boot, the card file empty", journal('p', tag), {}, on, line, ""},
      {"pending in this boot, topped up by hand", journal('p', tag), {}, topped, line, topped},
      {"pending in this boot, the log missing", journal('p', tag), {}, kCard, kNone, kCard, kNone},
      {"pending before a restart", journal('p', tag, "", "boot-earlier"), {earlier}},
      {"committed, the card topped up by hand since", journal('c', tag), {}, topped, line, topped},
      {"applied, its log line changed by hand since", journal('a', tag),
       {"3333.txt: byte 0: not what the journal's record at byte 0 holds; put back"}, on, line, on,
       changed},
      {"of version 1.2", old_record + zeros, {earlier}},
      {"of version 1.0.0", oldest, {earlier}},
      {"of version 1.0.0, torn", oldest.substr(0, 40), {}, kCard, ""},
      // clang-format on
  };
  WhatTerm = kHere;
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    DataDir dir;
    const auto [after, said] = Recover(dir, kBoot,
                                       Files{{"usercard.txt", row.card_file},
                                             {"3333.txt", row.log_file},
                                             {"usercard.txt.farecard-journal", row.journal}});
    ASSERT_EQ(after, (Files{{"card", row.card}, {"log", row.log}}));  // a tag on no card exits
    EXPECT_EQ(CountOf(said, "\n"), row.said.size()) << said;
    for (const std::string& piece : row.said) EXPECT_NE(said.find(piece), npos) << said;
    // A card someone else wrote ends the journal's hold on the card: it is checkpointed.
    EXPECT_TRUE(row.card != topped || dir.Read(kJournalName) == zeros);
    // What was cut short or damaged is written over, not followed; what was kept aside stays.
    Tag(ParseCardLine(row.card)->inOut == 'I' ? 2 : 1);
    const auto [again, quiet] = Recover(dir, kBoot);
    EXPECT_EQ(CountOf(again.at("log"), "\n"), CountOf(row.log, "\n") + 1);
    EXPECT_EQ(quiet, "");
    const bool kept = row.said.size() > 0 && row.said.back().starts_with(damaged);
    EXPECT_EQ(dir.Read("usercard.txt.farecard-damaged-1") == row.journal, kept);
    if (!kept) continue;  // damaged again, kept beside the one before, not taking the next tag
    dir.Write("usercard.txt.farecard-journal", row.journal);
    Tag(ParseCardLine(again.at("card"))->inOut == 'I' ? 2 : 1);
    EXPECT_EQ(dir.Read("usercard.txt.farecard-damaged-2"), row.journal);
  }
}

}  // namespace
