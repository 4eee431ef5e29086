#include <unistd.h>

#include <cerrno>

#include "Card.h"
#include "CardCommit.h"
#include "DataFiles.h"

namespace {

// The log's length before the line: the line goes there, and a failed commit cuts back to it.
// Measuring the log first also means a log that cannot take the line fails the tag before the
// card is touched.
bool MeasureLog(CardCommit& commit) {
  if (commit.log.name.empty()) return true;
  const auto size = FileSizeOf(DataPath(commit.log.name));
  if (size) commit.log_length = *size;
  return size.has_value();
}

// Puts |line| into the log of |commit| at its recorded length.
bool PutInLog(const CardCommit& commit, std::string_view line) {
  return commit.log.name.empty() || WriteFileAt(DataPath(commit.log.name), commit.log_length, line);
}

// Puts card and log back as they were before |commit|: the old card (or none), the log at its
// old length.
bool Undo(const CardCommit& commit, const std::optional<std::string>& card_before) {
  const std::string card_path = DataPath(kCardFileName);
  const bool card_ok = card_before ? WriteFileInPlace(card_path, *card_before)
                                   : unlink(card_path.c_str()) == 0 || errno == ENOENT;
  return PutInLog(commit, "") && card_ok;
}

}  // namespace

bool ApplyCommit(const CardCommit& commit) {
  // The line goes at the recorded length, over whatever part of it an interrupted append left;
  // a log found shorter (emptied by hand meanwhile) takes it at its end, never after a gap.
  return WriteFileInPlace(DataPath(kCardFileName), commit.card_line) &&
         PutInLog(commit, commit.log.line);
}

bool CommitCard(std::string card_line, LogAppend log) {
  CardCommit commit{std::move(card_line), std::move(log), 0};
  if (!MeasureLog(commit)) return false;
  const std::string card_path = DataPath(kCardFileName);
  const auto card_before = ReadFilePrefix(card_path, kCardFileLimit);
  // A card that is there but cannot be read could not be put back should the commit fail.
  if (!card_before && errno != ENOENT) {
    ReportFileError(card_path);
    return false;
  }
  const std::string record_path = DataPath(kCommitRecordName);
  bool done = false;
  // From the moment the record is whole on the disk the commit is as good as done: a crash
  // from here on is completed by the next holder of the lock.
  if (WriteFileAt(record_path, 0, FormatCommitRecord(commit))) {
    done = ApplyCommit(commit);
    // A commit that failed without a crash is taken back; the record may only go once card and
    // log are as they were, or else the next holder of the lock completes it.
    if (!done && !Undo(commit, card_before)) return false;
  }
  // Also after a failed write of the record: it may have reached the disk whole all the same.
  // A record that cannot be cleared after a commit that is done does no harm: completing it
  // again changes nothing, so the tag is not reported as failed for it.
  (void)WriteFileAt(record_path, 0, "");
  return done;
}
