// SPDX-License-Identifier: Apache-2.0
// Recovery: every rule of what the next holder of the card lock puts back, drops or keeps. The
// files are the truth: only what the disk provably lost is put back, and what is written over
// is named.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdio>

#include "DataFiles.h"
#include "Journal.h"

namespace {

// Damaged journals kept side by side at most; past them, the books wait for someone to look.
constexpr int kMostDamagedJournals = 999;

// What the card file holds, against the cards of a journal's records.
enum class CardFound {
  kInPlace,  // the last record's card
  kLost,     // missing, empty, cut short or no card: what a disk that lost writes leaves
  kEarlier,  // a card the records hold as written before the last one's: a change cut off
             // before its card was replaced, or writes the disk lost
  kOutside,  // a whole card that no record holds: someone else wrote it, and it stands
};

// The last of |records| that replaces the card, or nothing.
const JournalRecord* LastCardRecord(const std::vector<JournalRecord>& records) {
  const auto last = std::find_if(records.rbegin(), records.rend(), [](const JournalRecord& r) {
    return !r.change.card_line.empty();
  });
  return last == records.rend() ? nullptr : &*last;
}

// A card a record holds is one the terminals wrote, and so one a disk may give back when it
// loses later writes; any other whole card was written by someone else (an operator's top-up,
// an editor) and is the card. A record that does not know the card it was decided on counts
// any whole card as an earlier one.
CardFound FindCard(const Journal& journal, const std::optional<std::string>& card) {
  const std::vector<JournalRecord>& records = journal.scan.records;
  const JournalRecord* last = LastCardRecord(records);
  if (last == nullptr || (card && *card == last->change.card_line)) return CardFound::kInPlace;
  if (!card || !journal.rules.is_card_line(*card)) return CardFound::kLost;
  for (const JournalRecord& record : records) {
    const Change& change = record.change;
    if (!change.before_known || *card == change.card_before ||
        (&record != last && *card == change.card_line)) {
      return CardFound::kEarlier;
    }
    if (&record == last) break;
  }
  return CardFound::kOutside;
}

// Puts in place every record of |journal| whatever its mark says (a mark is not flushed, so
// only the card and the files tell what is in place), the appends first, since their charges
// were made whatever became of the card; then marks them applied. |outside| tells that the card
// was written by someone else and stands.
bool PutRecordsInPlace(Journal& journal, bool& outside) {
  std::vector<JournalRecord>& records = journal.scan.records;
  outside = false;
  if (records.empty()) return true;
  if (!PutAppendsBack(records)) return false;
  const CardFound found = FindCard(journal, ReadCard(journal.rules));
  outside = found == CardFound::kOutside;
  // Each record holds the whole card, so the last one's is the card they all leave.
  if (found != CardFound::kInPlace && !outside &&
      !PutCardBack(journal.rules, *LastCardRecord(records), found == CardFound::kEarlier)) {
    return false;
  }
  for (JournalRecord& record : records) (void)MarkJournal(journal, record, kAppliedMark);
  return true;
}

// Only in the boot a record was written in may one still pending be one whose writer saw its
// flush fail; after a restart it may be a change shown done.
bool WrittenThisBoot(const Journal& journal, const JournalRecord& record) {
  return record.boot == journal.boot && journal.boot != "-";
}

// Whether the books show that the last record's flush failed: the card file whole (and, when the
// record replaces it, the card it was decided on), and no file it appends to longer than before.
// Anything else is part of it in place (only a durable record is put in place), or earlier
// writes lost by a disk pulled and mounted again, which a card file no whole card shows too.
bool FlushFailed(const Journal& journal) {
  const Change& last = journal.scan.records.back().change;
  const auto card = ReadCard(journal.rules);
  if (!last.before_known || !card || !journal.rules.is_card_line(*card) ||
      (!last.card_line.empty() && *card != last.card_before)) {
    return false;
  }
  return std::all_of(last.appends.begin(), last.appends.end(), [](const AppendAt& append) {
    const int fd = OpenDataFile(DataPath(append.name), O_RDONLY);
    struct stat info {};
    const bool short_file =
        fd < 0 ? errno == ENOENT
               : fstat(fd, &info) == 0 && static_cast<std::uint64_t>(info.st_size) <= append.at;
    CloseFile(fd);
    return short_file;
  });
}

// Drops the last record of |journal| (in this boot only the last can be pending) when it is
// pending and its flush failed: its writer then told nothing but its failure line, or died
// first. A disk that lost writes may show pending a change shown done: the books tell it apart.
bool DropFailedRecord(Journal& journal) {
  JournalScan& scan = journal.scan;
  if (scan.records.empty() || scan.records.back().mark != kPendingMark || !FlushFailed(journal)) {
    return true;
  }
  if (!journal.writable || !WipeJournal(journal, scan.records.back().offset, scan.end)) {
    return false;
  }
  scan.end = scan.records.back().offset;
  scan.records.pop_back();
  if (scan.records.empty()) scan.epoch.clear();
  return true;
}

// Keeps a damaged journal for inspection once the records before the damage are durable, and
// says so; the books go on from them.
bool KeepDamaged(Journal& journal) {
  const std::string path = DataPath(kJournalName);
  const std::uint64_t at = journal.scan.end;
  bool outside = false;
  if (!journal.writable || !PutRecordsInPlace(journal, outside) || !SyncJournaledBooks(journal)) {
    return false;
  }
  std::string kept;  // the last name tried
  if (!RenameToFreeName(path, kMostDamagedJournals,
                        [&](int n) {
                          return DataPath(kept =
                                              std::string(kDamagedJournalName) + std::to_string(n));
                        }) ||
      !SyncDirectoryOf(path)) {
    ReportFileError(path);
    return false;
  }
  std::fprintf(stderr,
               "%s: %s: damaged record at byte %" PRIu64
               " not applied, nor any after it; the journal is kept as %s\n",
               program_invocation_short_name, path.c_str(), at, kept.c_str());
  CloseJournal(journal);
  return true;
}

}  // namespace

bool PutInPlaceAndCheckpoint(Journal& journal) {
  // A journal shorter than its size (made by version 1.0.0, or cut short) is made whole too.
  if (journal.fd < 0 || (journal.scan.records.empty() && journal.scan.dirty_end == 0 &&
                         journal.size >= kJournalBytes)) {
    return true;
  }
  if (!journal.writable) {
    errno = EACCES;
    ReportFileError(DataPath(kJournalName));
    return false;
  }
  bool outside = false;
  return PutRecordsInPlace(journal, outside) && CheckpointJournal(journal);
}

bool BringBooksUp(Journal& journal) {
  JournalScan& scan = journal.scan;
  if (journal.fd < 0) return true;
  if (scan.how == JournalEnd::kDamaged) return KeepDamaged(journal);
  const auto before_restart = [&](const JournalRecord& r) { return !WrittenThisBoot(journal, r); };
  if (std::any_of(scan.records.begin(), scan.records.end(), before_restart)) {
    return PutInPlaceAndCheckpoint(journal);
  }
  bool outside = false;
  if (!DropFailedRecord(journal) || !PutRecordsInPlace(journal, outside)) return false;
  // A card someone else wrote is the card from now on: later changes build on it, and a record
  // left in the journal must never put an older card back over it.
  if (outside) return CheckpointJournal(journal);
  // A record cut short, or what an interrupted checkpoint left: a new record must be written
  // over zeros.
  if (scan.dirty_end > scan.end && journal.writable) {
    if (!WipeJournal(journal, scan.end, scan.dirty_end)) return false;
    scan.dirty_end = scan.end;
  }
  return true;
}
