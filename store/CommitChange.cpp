// SPDX-License-Identifier: Apache-2.0
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "DataFiles.h"
#include "FileSeam.h"
#include "Journal.h"

namespace {

// What a commit prepares before its record: the log open and measured, the new card written
// beside the card. Whatever can fail for want of room or rights fails here, while the tag can
// still be refused with nothing in the books.
struct Staged {
  int log = -1;
  std::string card;    // the card's real file
  std::string beside;  // the new card, beside it
};

bool Stage(const BookRules& rules, CardCommit& commit, Staged& staged) {
  if (!commit.log.name.empty()) {
    const std::string path = DataPath(commit.log.name);
    staged.log = OpenDataFile(path, O_RDWR | O_CREAT);
    struct stat info {};
    if (staged.log < 0) return false;
    if (fstat(staged.log, &info) != 0) {
      ReportFileError(path);
      return false;
    }
    commit.log_length = static_cast<std::uint64_t>(info.st_size);
  }
  const auto card = RealPathOf(DataPath(rules.card_name));
  if (!card) return false;
  staged.card = *card;
  const auto beside = WriteBeside(staged.card, commit.card_line, false);
  if (beside) staged.beside = *beside;
  return beside.has_value();
}

// Puts the committed card and line in place: the card renamed over the old one, so it is one
// whole line at every moment, and the line written where the log ended.
bool PutInPlace(const BookRules& rules, const CardCommit& commit, const Staged& staged) {
  if (!MoveOver(staged.beside, staged.card)) {
    ReportFileError(DataPath(rules.card_name));
    return false;
  }
  if (staged.log >= 0 && !WriteAllAt(staged.log, commit.log.line, commit.log_length)) {
    ReportFileError(DataPath(commit.log.name));
    return false;
  }
  return true;
}

}  // namespace

bool CommitChange(const BookRules& rules, std::string card_line, LogAppend log) {
  CardCommit commit{std::move(card_line), std::move(log), 0};
  Journal* journal = HeldJournal();
  std::optional<Journal> own;
  if (journal == nullptr && (own = OpenJournal(rules))) journal = &*own;
  Staged staged;
  std::optional<JournalRecord> record;
  if (journal != nullptr && ReadyForRecord(*journal) && Stage(rules, commit, staged)) {
    record = AppendJournalRecord(*journal, commit);
  }
  if (record) {
    // The change is in the books from here on: what fails now, the next holder of the lock
    // puts in place.
    if (PutInPlace(rules, commit, staged)) (void)MarkJournal(*journal, *record, kAppliedMark);
  } else if (!staged.beside.empty()) {
    (void)SeamRemove(staged.beside.c_str());
  }
  CloseFile(staged.log);
  if (own) CloseJournal(*own);
  return record.has_value();
}
