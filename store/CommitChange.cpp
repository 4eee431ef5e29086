// SPDX-License-Identifier: Apache-2.0
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "DataFiles.h"
#include "FileSeam.h"
#include "Journal.h"

namespace {

// What a commit prepares before its record: each file appended to open and measured, the new
// card written beside the card. Whatever can fail for want of room or rights fails here, while
// the change can still be refused with nothing in the books.
struct Staged {
  std::vector<int> files;  // one for each append, -1 until open
  std::string card;        // the card's real file
  std::string beside;      // the new card, beside it
};

// Opens the file |append| goes to (creating it when |create|; else a missing one is ENOENT, not
// said) into |fd| and notes where it ends. Only a regular file: a device or a FIFO there would
// take the record and never the bytes.
bool StageAppend(AppendAt& append, bool create, int& fd) {
  const std::string path = DataPath(append.name);
  fd = OpenDataFile(path, O_RDWR | (create ? O_CREAT : 0));
  if (fd < 0) return false;
  struct stat info {};
  if (fstat(fd, &info) != 0) {
    ReportFileError(path);
    return false;
  }
  if (!S_ISREG(info.st_mode)) {
    std::fprintf(stderr, "%s: %s: not a regular file\n", program_invocation_short_name,
                 path.c_str());
    errno = EINVAL;
    return false;
  }
  append.at = static_cast<std::uint64_t>(info.st_size);
  return true;
}

// Opens every file the change appends to, those that exist first, so that a file that cannot be
// made leaves no other made for nothing. False, with the first that failed in |failed|.
bool StageAppends(Change& change, Staged& staged, std::size_t& failed) {
  staged.files.assign(change.appends.size(), -1);
  for (const bool create : {false, true}) {
    for (std::size_t i = 0; i < change.appends.size(); ++i) {
      if (staged.files[i] >= 0) continue;
      if (!StageAppend(change.appends[i], create, staged.files[i]) &&
          (create || staged.files[i] >= 0 || errno != ENOENT)) {
        failed = i;
        return false;
      }
    }
  }
  return true;
}

// The record keeps the card the change is decided on, so that recovery can tell it, given back
// by a disk that lost writes, from a card written since by someone else.
bool StageCard(const BookRules& rules, Change& change, Staged& staged) {
  const auto card = RealPathOf(DataPath(rules.card_name));
  if (!card) return false;
  staged.card = *card;
  const auto before = ReadCard(rules);
  if (before && before->size() <= kLongestCard && rules.is_card_line(*before)) {
    change.card_before = *before;
  }
  const auto beside = WriteBeside(staged.card, change.card_line, false);
  if (beside) staged.beside = *beside;
  return beside.has_value();
}

// Puts the committed card and appends in place: the card renamed over the old one, so it is one
// whole line at every moment, and each append written where its file ended.
bool PutInPlace(const BookRules& rules, const Change& change, const Staged& staged) {
  if (!staged.beside.empty() && !MoveOver(staged.beside, staged.card)) {
    ReportFileError(DataPath(rules.card_name));
    return false;
  }
  for (std::size_t i = 0; i < change.appends.size(); ++i) {
    const AppendAt& append = change.appends[i];
    if (!WriteAllAt(staged.files[i], append.bytes, append.at)) {
      ReportFileError(DataPath(append.name));
      return false;
    }
  }
  return true;
}

// Leaves |journal| as a new record needs it: created when there is none (one kept for its damage
// is replaced), made whole when short, checkpointed when full. False, detail said, otherwise.
bool ReadyForRecord(Journal& journal) {
  if (journal.fd < 0 && !CreateJournal(journal)) return false;
  if (!journal.writable) {
    errno = EACCES;
    ReportFileError(DataPath(kJournalName));
    return false;
  }
  const JournalScan& scan = journal.scan;
  const bool full =
      scan.records.size() >= kCheckpointRecords || scan.end + kLongestJournalRecord > kJournalBytes;
  return (journal.size >= kJournalBytes && !full) || PutInPlaceAndCheckpoint(journal);
}

}  // namespace

Committed CommitChange(HeldBooks& books, std::string card_line, std::vector<BookAppend> appends) {
  Committed result;
  if (!HeldForChange(books)) return result;
  Journal& journal = *books.journal;
  Change change;
  change.card_line = std::move(card_line);
  for (BookAppend& append : appends) {
    if (!append.name.empty()) change.appends.push_back({append.name, 0, std::move(append.bytes)});
  }
  Staged staged;
  const bool ready = ReadyForRecord(journal) && StageAppends(change, staged, result.failed) &&
                     (change.card_line.empty() || StageCard(books.rules, change, staged));
  result.done = ready && AppendJournalRecord(journal, change);
  if (result.done) {
    // The change is in the books from here on: what fails now, the next holder of the lock
    // puts in place.
    if (PutInPlace(books.rules, change, staged)) {
      (void)MarkJournal(journal, journal.scan.records.back(), kAppliedMark);
    }
  } else if (!staged.beside.empty()) {
    (void)SeamRemove(staged.beside.c_str());
  }
  for (const int fd : staged.files) CloseFile(fd);
  return result;
}
