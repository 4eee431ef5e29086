// The card commit: a tag changes the card file and appends one line to a terminal log, and the
// two must go to the disk all or nothing. A commit record beside the card is written and synced
// before anything changes; then the card is written, the line is put at the log's recorded
// length, and the record is cleared. Whatever stops the process, the next holder of the card
// lock finds the record and completes the commit, or discards a torn record, since nothing had
// changed before it was whole.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// The commit record beside the card, and the lock that every card commit and every reader of
// the books holds. The lock is a file of its own, never replaced, so a lock on it always locks.
inline constexpr std::string_view kCommitRecordName = "usercard.txt.farecard-journal";
inline constexpr std::string_view kCardLockName = "usercard.lock";

// A log line to append in the same commit as a card: the log's file name and the line.
struct LogAppend {
  std::string name;  // "1111.txt" to "6666.txt"; empty for a commit without a log line
  std::string line;  // one whole line, ending in "\n"
};

// Everything one commit changes.
struct CardCommit {
  std::string card_line;         // the card file's new content
  LogAppend log;                 // the line it appends, if any
  std::uint64_t log_length = 0;  // the log's length before the line: where the line goes
};

// The commit record of |commit|: its fields and a checksum over them.
std::string FormatCommitRecord(const CardCommit& commit);

// The commit in |record|, when the record is whole: the checksum matches, the card line parses,
// the log is one of the six terminal logs and its line is one line. Nothing otherwise.
std::optional<CardCommit> ParseCommitRecord(std::string_view record);

// Writes |card_line| to the card file and, in the same commit, appends |log| (when named).
// Needs the card lock. Returns true once both are on the disk. On failure (detail on standard
// error) both are put back as they were and false is returned; should even that fail, the
// record stays and the next holder of the lock completes the commit.
[[nodiscard]] bool CommitCard(std::string card_line, LogAppend log);

// Writes the card and puts the log line of |commit| at the recorded length of its log (at the
// end of a log found shorter). Needs the card lock. Doing it twice does no harm, which is what
// lets recovery repeat a commit that may have been cut off anywhere. False on a failed write.
[[nodiscard]] bool ApplyCommit(const CardCommit& commit);

// Completes a commit that a crash interrupted, or discards its record when the record is torn.
// Needs the card lock. Returns false (detail on standard error) when a commit is waiting and
// cannot be completed; the card and the logs may then disagree by that one commit.
[[nodiscard]] bool RecoverCardCommit();

// Takes the card lock and completes or discards an interrupted commit, so that card and logs
// agree while the lock is held. Returns the lock's descriptor, or -1 (detail on standard error)
// when the lock cannot be opened or taken, or the waiting commit cannot be completed. Without
// the lock nothing may be read for a change or changed: another terminal could be halfway
// through the same card.
int LockCard();
