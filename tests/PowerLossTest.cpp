// SPDX-License-Identifier: Apache-2.0
// Power cuts at every step. Each row changes the books once in this process while the file
// seam records every change made to a data file. Then, for each step, every state a power cut
// may leave is laid out: for each file what was synced plus any prefix of its later writes,
// the last of them perhaps torn, and directory entries only as far as their directory was
// synced; also the state a killed process leaves, with everything written. Recovery runs on
// each as the next program's start runs it, and the books must be exactly the change done or
// exactly not done, and done whenever its result had been shown. Each power cut's state is also
// recovered in the same boot, as a disk pulled and mounted again leaves it: the card is never
// lost, and a change shown done only where the card left is the card before. A second pass makes
// every change from each step on fail, as a disk that gives up does, or only that change: once
// the disk is back, the books must be what the console said.
#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <set>

#include <gtest/gtest.h>

#include "BookFiles.h"
#include "Card.h"
#include "DataDir.h"
#include "DataFiles.h"
#include "FakeClock.h"
#include "FileChanges.h"
#include "Journal.h"
#include "Ledger.h"
#include "LogFile.h"
#include "Settle.h"
#include "Terminal.h"
#include "TerminalTag.h"
#include "WhatTerm.h"

namespace {

namespace fs = std::filesystem;
using Files = std::map<std::string, std::string>;  // name in the data directory -> bytes

constexpr std::int32_t kHere = 3333;
constexpr const char* kBoot = "boot-before";

// A file as a power cut sees it: what was synced, and the writes and cuts since.
struct Inode {
  std::string synced, now;
  std::vector<FileChange> since;
};

// The data directory as a power cut sees it. Inodes are numbered in the order they appear,
// since the file system may give a removed file's number to a new one.
struct Disk {
  std::vector<Inode> files;
  std::map<std::uint64_t, std::size_t> live;  // inode number -> files index
  std::map<std::string, std::size_t> names, synced_names;
};

void ApplyTo(std::string& bytes, const FileChange& change) {
  if (change.kind == FileChange::kTruncate) {
    bytes.resize(change.offset, '\0');
    return;
  }
  if (bytes.size() < change.offset + change.bytes.size()) {
    bytes.resize(change.offset + change.bytes.size(), '\0');
  }
  bytes.replace(change.offset, change.bytes.size(), change.bytes);
}

void Replay(Disk& disk, const FileChange& change) {
  switch (change.kind) {
    case FileChange::kCreate:
      disk.live[change.file] = disk.files.size();
      disk.names[change.name] = disk.files.size();
      disk.files.emplace_back();
      return;
    case FileChange::kWrite:
    case FileChange::kTruncate: {
      Inode& file = disk.files[disk.live.at(change.file)];
      ApplyTo(file.now, change);
      file.since.push_back(change);
      return;
    }
    case FileChange::kSync: {
      Inode& file = disk.files[disk.live.at(change.file)];
      file.synced = file.now;
      file.since.clear();
      return;
    }
    case FileChange::kRename:
      disk.names[change.to] = disk.names.at(change.name);
      disk.names.erase(change.name);
      return;
    case FileChange::kExchange:
      std::swap(disk.names.at(change.name), disk.names.at(change.to));
      return;
    case FileChange::kRemove:
      disk.names.erase(change.name);
      return;
    case FileChange::kSyncDirectory:
      disk.synced_names = disk.names;
      return;
  }
}

// What a power cut may leave of |file|: the synced bytes plus each prefix of the later writes,
// each last write also torn in half.
std::vector<std::string> Survivors(const Inode& file) {
  std::vector<std::string> kept{file.synced};
  std::string bytes = file.synced;
  for (const FileChange& change : file.since) {
    if (change.kind == FileChange::kWrite && change.bytes.size() > 1) {
      FileChange torn = change;
      torn.bytes.resize(change.bytes.size() / 2);
      std::string half = bytes;
      ApplyTo(half, torn);
      kept.push_back(half);
    }
    ApplyTo(bytes, change);
    kept.push_back(bytes);
  }
  return kept;
}

// Every state a power cut may leave of |disk|.
std::set<Files> CutStates(const Disk& disk) {
  std::set<Files> states{{}};
  for (const auto& [name, index] : disk.synced_names) {
    std::set<Files> grown;
    for (const Files& state : states) {
      for (const std::string& bytes : Survivors(disk.files[index])) {
        Files more = state;
        more[name] = bytes;
        grown.insert(more);
      }
    }
    states = grown;
  }
  return states;
}

// What a killed process leaves (everything it wrote), or the power cut that keeps least (what
// was synced, directory entries included).
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

// The lines of report |name|: a report made but never written holds none, as a missing one.
std::string Lines(const DataDir& dir, std::string_view name) {
  return dir.Exists(name) ? dir.Read(name) : "";
}

// What the rows compare: the card, the log of this terminal and the lines of the runs a start
// kept, so a start that loses the lines of the run before is caught.
Files Books(const DataDir& dir) {
  std::string kept;
  for (const auto& entry : fs::directory_iterator(dir.root())) {
    if (entry.path().filename().string().starts_with(LogFileName(kHere) + ".run-")) {
      kept += dir.Read(entry.path().filename().string());
    }
  }
  return {{"card", dir.Read(kCardFileName)},
          {"log", dir.Read(LogFileName(kHere))},
          {"kept", kept},
          {"reports", Lines(dir, kSubwayReportName) + Lines(dir, kBusReportName)}};
}

// Recovers as the next program's start does, in |boot|; the books it leaves.
Files Recover(const DataDir& dir, const char* boot) {
  SetBootId(boot);
  HeldBooks books = LockBooks(kCardBooks);
  EXPECT_TRUE(Held(books));
  UnlockBooks(books);
  SetBootId(kBoot);
  return Books(dir);
}

// The commit record of version 1.0.0 for |change|, as that version wrote it: the sizes, the
// card line, the log's name and its line, and an FNV-1a sum of all that, byte by byte.
std::string OldCommitRecord(const Change& change) {
  const AppendAt log = change.appends.empty() ? AppendAt{} : change.appends[0];
  std::string body = std::to_string(change.card_line.size()) + " " +
                     std::to_string(log.name.size()) + " " + std::to_string(log.at) + " " +
                     std::to_string(log.bytes.size()) + "\n" + change.card_line + log.name +
                     log.bytes;
  std::uint64_t hash = 14695981039346656037ULL;
  for (const char c : body) hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ULL;
  char sum[24];
  std::snprintf(sum, sizeof sum, "%016llx\n", static_cast<unsigned long long>(hash));
  return body + sum;
}

// A tag as the menu takes it, under the card lock; what it printed.
std::string TagAsTheMenuDoes(int choice) {
  testing::internal::CaptureStdout();
  HeldBooks books = LockBooks(kCardBooks);
  if (!Held(books)) {
    std::printf("File Write Error.\n");
  } else {
    choice == 1 ? OnSensorHandler(books) : OffSensorHandler(books);
  }
  UnlockBooks(books);
  std::fflush(stdout);
  return testing::internal::GetCapturedStdout();
}

// A card at 3333 with |tags| tags taken at 3333 before: the journal then holds their records.
void CardWithEarlierTags(int tags) {
  {
    HeldBooks books = LockBooks(kCardBooks);
    ASSERT_TRUE(CardWriter(books, TestCard('O', 'S', 'F', kHere, 10'000'000)));
  }
  for (int i = 0; i < tags; ++i) TagAsTheMenuDoes(i % 2 + 1);
}

struct Row {
  const char* name;
  std::function<void()> prepare;
  std::function<std::string()> change;  // what it printed: "done" or "failed" for the rows
                                        // that print nothing of their own
  const char* done;                     // the answer of a change done
  // Whether any other answer means the change is not done. A terminal whose start failed
  // serves nothing, whether or not its log was emptied.
  bool refusal_binds = true;
};

// Runs |change| under the card lock, as the programs do; "done" or "failed".
std::string UnderLock(const std::function<bool(HeldBooks&)>& change) {
  HeldBooks books = LockBooks(kCardBooks);
  const bool ok = Held(books) && change(books);
  UnlockBooks(books);
  return ok ? "done" : "failed";
}

const Row kRows[] = {
    {"terminal start", [] { CardWithEarlierTags(3); },
     [] {
       return UnderLock([](HeldBooks& books) { return DBInit(books); });
     },  // as the terminal's start does
     "done", false},
    {"get-on", [] { CardWithEarlierTags(2); }, [] { return TagAsTheMenuDoes(1); },
     "Tagging is processed competely."},
    {"get-off", [] { CardWithEarlierTags(1); }, [] { return TagAsTheMenuDoes(2); },
     "Tagging is processed competely."},
    {"checkpoint of a full journal, then a get-on",
     [] { CardWithEarlierTags(static_cast<int>(kCheckpointRecords) - 1); },
     [] { return TagAsTheMenuDoes(1); }, "Tagging is processed competely."},
    {"issuer card", [] { CardWithEarlierTags(1); },
     [] {
       return UnderLock(
           [](HeldBooks& books) { return CardWriter(books, TestCard('O', 'S', 'F', 1111, 5000)); });
     },
     "done"},
    {"settlement's two reports", [] { CardWithEarlierTags(1); },
     [] {
       testing::internal::CaptureStdout();
       OutputHandler(EntryTable{}, Income{1250, -459, kCardTime}, 0);
       return testing::internal::GetCapturedStdout();
     },
     "Overall Fee : 791 Won"},
};

// Lays out the row's books and runs the row's change once, in an empty directory, recording
// every change from the start: only what was synced on the way counts as on the disk.
struct RowRun {
  Files before, after;
  Disk disk;
  std::vector<FileChange> changes;
  std::string printed;
};

RowRun RunRow(const DataDir& dir, const Row& row) {
  SetBootId(kBoot);
  WhatTerm = kHere;
  SetCurrentTime(kCardTime + 1000);
  StartRecording();
  row.prepare();
  RowRun run{Books(dir), {}, {}, {}, {}};
  for (const FileChange& change : StopRecording()) Replay(run.disk, change);
  StartRecording();
  run.printed = row.change();
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
    std::size_t states = 0;
    for (std::size_t step = 0; step <= run.changes.size(); ++step) {
      if (step > 0) Replay(disk, run.changes[step - 1]);
      // |lost|: a power cut's state found in the same boot, as a disk that was pulled and
      // mounted again leaves it; the marks it kept say nothing of what is in place.
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
        if (card != state.end() && IsCardLine(card->second) && card->second != books.at("card")) {
          EXPECT_EQ(CountOf(said, "\n"), 1u) << said;
          EXPECT_NE(said.find("usercard.txt: an earlier card of the journal's"), std::string::npos);
        } else {
          EXPECT_EQ(said, "");
        }
        // The result is shown once every change is made. Only a lost disk may undo it then, and
        // only where the card it left is whole and is the card before: as a failed flush leaves.
        if (step == run.changes.size() &&
            (!lost || card == state.end() || card->second != run.before.at("card"))) {
          EXPECT_EQ(books, run.after);
        }
        ++states;
      };
      for (const Files& state : CutStates(disk)) {
        check(state, "boot-after", false);
        check(state, kBoot, true);
      }
      check(StateOf(disk, true), kBoot, false);
    }
    std::printf("[ cuts     ] %s: %zu steps, %zu states recovered\n", row.name, run.changes.size(),
                states);
  }
}

TEST(PowerLoss, WhatTheConsoleSaidIsTheTruthWhenTheDiskGivesUp) {
  // How the disk fails at a step: it gives up, or fails only that change (a flush then perhaps
  // writing its data all the same).
  const struct Failure {
    const char* name;
    std::size_t changes;
  } failures[] = {{"every change fails from step ", SIZE_MAX},
                  {"only the change fails at step ", 1}};
  for (const Row& row : kRows) {
    RowRun healthy;
    {
      DataDir dir;
      healthy = RunRow(dir, row);
    }
    for (std::size_t step = 1; step <= healthy.changes.size(); ++step) {
      for (const Failure& failure : failures) {
        SCOPED_TRACE(std::string(row.name) + ": " + failure.name + std::to_string(step));
        DataDir dir;
        const Row failing{row.name, row.prepare,
                          [&] {
                            FailChangesFrom(step, EIO, failure.changes);
                            testing::internal::CaptureStderr();
                            const std::string printed = row.change();
                            testing::internal::GetCapturedStderr();
                            FailChangesFrom(0, 0);
                            return printed;
                          },
                          row.done, row.refusal_binds};
        const RowRun run = RunRow(dir, failing);
        ASSERT_EQ(run.before, healthy.before);
        const bool done = run.printed.find(row.done) != std::string::npos;
        const Files& truth = done ? healthy.after : healthy.before;
        Disk disk = run.disk;
        for (const FileChange& change : run.changes) Replay(disk, change);
        LayOut(dir, StateOf(disk, true));
        const Files killed = Recover(dir, kBoot);
        if (done || row.refusal_binds) {
          EXPECT_EQ(killed, truth) << run.printed;
        } else {
          EXPECT_TRUE(killed == healthy.before || killed == healthy.after) << run.printed;
        }
        // A power cut as well: a change shown done stays done. One refused may be done after all
        // if its flush went through and the disk gave up just after it: nothing can be written
        // then to tell a restarted machine that it was refused. A disk that failed only the
        // flush takes the record's wiping.
        LayOut(dir, StateOf(disk, false));
        const Files books = Recover(dir, "boot-after");
        if (done || (failure.changes == 1 && row.refusal_binds)) {
          EXPECT_EQ(books, truth) << run.printed;
        } else {
          EXPECT_TRUE(books == healthy.before || books == healthy.after) << run.printed;
        }
      }
    }
  }
}

}  // namespace

// What recovery does with the record it finds: a committed one is put in place, whatever its
// mark, and so is any record a restart left, one pending in this boot whose card was lost, and a
// whole record of versions 1.0.0 to 1.2; a torn one and one pending in this boot while the card
// is the one before it never committed and are dropped; a damaged one is named, kept for
// inspection and never put in place. A card that no record holds was written by someone else and
// stands, the records' log lines put in place all the same. What is written over a whole card or
// over other bytes of a log is named. Whatever it found, one more tag then leaves a journal
// recovered in silence.
TEST(PowerLoss, RecordsArePutInPlaceDroppedOrKeptAsTheyStand) {
  const Card card = TestCard('O', 'S', 'F', kHere, 10000);
  Card charged = card;
  charged.inOut = 'I';
  charged.balance -= 1050;
  Card off = charged;
  off.inOut = 'O';
  off.balance -= 200;
  Card topped_up = card;
  topped_up.balance = 8'030'000;
  const std::string line = "3333 1050 0 0 42 F 777 Z I 1401959220 20146597\n";
  const std::string off_line = "3333 0 0 200 42 F 1250 Z O 1401959220 20146597\n";
  const Change tag{FormatCardLine(card), true, FormatCardLine(charged), {{"3333.txt", 0, line}}};
  const Change next{
      FormatCardLine(charged), true, FormatCardLine(off), {{"3333.txt", line.size(), off_line}}};
  const auto record = [&](char mark, const char* boot, std::size_t cut, int changed,
                          const Change& commit) {
    std::string bytes = FormatJournalRecord(commit, "0123456789abcdef", boot);
    bytes[kMarkOffset] = mark;
    bytes.resize(std::min(cut, bytes.size()));
    if (changed >= 0) bytes[static_cast<std::size_t>(changed)] ^= 1;  // '0' and '1' swap
    return bytes;
  };
  const auto journal = [&](char mark, const char* boot, std::size_t cut, int changed,
                           std::string before = "", const Change* commit = nullptr) {
    before += record(mark, boot, cut, changed, commit ? *commit : tag);
    return before + std::string(kJournalBytes - before.size(), '\0');
  };
  const std::size_t whole = std::string::npos;
  const std::string first = record('a', kBoot, whole, -1, tag);
  const auto digit = static_cast<int>(first.find("8950"));
  const Change not_a_card{tag.card_before, true, "42 S O\n", tag.appends};
  // The tag's record as versions 1.1 and 1.2 wrote it, committed.
  const std::string old_record =
      "FJc 0123456789abcdef boot-before 53 8 0 47\n42 S I 1050 0 0 3333 F 8950 777 Z 1401959220 "
      "201465973333.txt3333 1050 0 0 42 F 777 Z I 1401959220 20146597\n1ae4c1fdfa373014\n";
  const std::string unknown_head = "FXc 0123456789abcdef boot-before 0\n";
  const auto state = [](std::string card_line, std::string log) {
    return Files{{"card", card_line}, {"log", log}, {"kept", ""}, {"reports", ""}};
  };
  const Files applied = state(tag.card_line, line);
  const Files untouched = state(tag.card_before, "");
  const Files both = state(next.card_line, line + off_line);
  const Files top_up_stands = state(FormatCardLine(topped_up), line);
  const char* earlier_card = "usercard.txt: an earlier card of the journal's; put back";
  std::string changed_line = line;
  changed_line.replace(changed_line.find("1050"), 4, "7050");
  const struct Row {
    const char* name;
    std::string journal;
    Files after;
    std::vector<std::string> said;              // a piece of each line on standard error
    bool damaged = false;                       // the journal is kept for inspection
    std::optional<std::string> card_file = {};  // at first; the card before when not given
    std::string log_file = {};                  // what the log holds at first
  } rows[] = {
      {"committed", journal('c', kBoot, whole, -1), applied, {earlier_card}},
      {"applied, but lost with a pulled disk",
       journal('a', kBoot, whole, -1),
       applied,
       {earlier_card}},
      {"applied, the card an earlier record wrote",
       journal('a', kBoot, whole, -1, first, &next),
       both,
       {earlier_card},
       false,
       tag.card_line,
       line},
      {"a byte changed",
       journal('c', kBoot, whole, digit),
       untouched,
       {"damaged record at byte 0"},
       true},
      {"summed right, but its card line no card",
       journal('c', kBoot, whole, -1, "", &not_a_card),
       untouched,
       {"damaged record at byte 0"},
       true},
      {"zeroed in front of one of its generation",
       journal('a', kBoot, whole, -1, first + std::string(first.size(), '\0'), &next),
       applied,
       {earlier_card, "damaged record at byte " + std::to_string(first.size())},
       true},
      {"a head of no known kind, then zeros",
       unknown_head + std::string(kJournalBytes, '\0'),
       untouched,
       {"damaged record at byte 0"},
       true},
      {"torn", journal('c', kBoot, first.size() / 2, -1), untouched, {}},
      {"torn in its head", journal('c', kBoot, 20, -1), untouched, {}},
      {"torn after a whole one",
       journal('c', kBoot, first.size() / 2, -1, first, &next),
       applied,
       {earlier_card}},
      {"pending in this boot", journal('p', kBoot, whole, -1), untouched, {}},
      {"pending in this boot, the card file empty",
       journal('p', kBoot, whole, -1),
       applied,
       {},
       false,
       ""},
      {"pending in this boot, the card cut short",
       journal('p', kBoot, whole, -1),
       applied,
       {},
       false,
       "42 S O 1"},
      {"pending before a restart",
       journal('p', "boot-earlier", whole, -1),
       applied,
       {earlier_card}},
      {"committed, the card topped up by hand since",
       journal('c', kBoot, whole, -1),
       top_up_stands,
       {},
       false,
       FormatCardLine(topped_up)},
      {"applied, its log line changed by hand since",
       journal('a', kBoot, whole, -1),
       applied,
       {"3333.txt: byte 0: not what the journal's record at byte 0 holds; put back"},
       false,
       tag.card_line,
       changed_line},
      {"of version 1.2", old_record + std::string(kJournalBytes, '\0'), applied, {earlier_card}},
      {"of version 1.0.0", OldCommitRecord(tag), applied, {earlier_card}},
      {"of version 1.0.0, torn", OldCommitRecord(tag).substr(0, 40), untouched, {}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    DataDir dir;
    dir.Write(kCardFileName, row.card_file.value_or(tag.card_before));
    dir.Write("3333.txt", row.log_file);
    dir.Write(kJournalName, row.journal);
    testing::internal::CaptureStderr();
    const Files books = Recover(dir, kBoot);
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_EQ(books, row.after);
    EXPECT_EQ(CountOf(said, "\n"), row.said.size()) << said;
    for (const std::string& piece : row.said)
      EXPECT_NE(said.find(piece), std::string::npos) << said;
    EXPECT_EQ(dir.Read("usercard.txt.farecard-damaged-1") == row.journal, row.damaged);
    // A card someone else wrote ends the journal's hold on the card: it is checkpointed.
    if (books == top_up_stands) {
      EXPECT_EQ(dir.Read(kJournalName), std::string(kJournalBytes, '\0'));
    }
    // What was cut short or damaged is written over, not followed. A tag on a card that is no
    // card would end the test with "File Read Error.".
    const auto now = ParseCardLine(books.at("card"));
    ASSERT_TRUE(now);
    WhatTerm = kHere;
    SetCurrentTime(kCardTime + 1000);
    EXPECT_NE(TagAsTheMenuDoes(now->inOut == 'I' ? 2 : 1).find("competely"), std::string::npos);
    testing::internal::CaptureStderr();
    const std::string log = Recover(dir, kBoot).at("log");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(CountOf(log, "\n"), CountOf(books.at("log"), "\n") + 1);
  }
}
