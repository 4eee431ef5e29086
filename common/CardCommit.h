// SPDX-License-Identifier: Apache-2.0
// The card commit: a tag changes the card file and appends one line to a terminal log, and the
// two must reach the books all or nothing. A commit goes into the journal beside the card (see
// Journal.h) and is done once its record is durable; card and log line are put in place after
// that. Whatever stops the process, the next holder of the card lock puts in place any record
// that may not be; a record that never became whole never committed, and nothing had changed.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// The lock that every card commit and every reader of the books holds. It is a file of its own,
// never replaced, so a lock on it always locks.
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

// |head| followed by the sizes of |commit|'s three fields, its log length and the fields: the
// part that the commit records of version 1.0.0 and the journal's records share.
std::string CommitBody(std::string_view head, const CardCommit& commit);

// The commit record of version 1.0.0, which the journal replaced: its fields and a checksum. A
// journal file that holds one is completed once and then turned into a journal.
std::string FormatCommitRecord(const CardCommit& commit);

// The commit in a 1.0.0 |record|, when the record is whole: the checksum matches, the card line
// parses, the log is one of the six terminal logs and its line is one line. Nothing otherwise.
std::optional<CardCommit> ParseCommitRecord(std::string_view record);

// Takes one number in |base| and the single blank or line end after it from the front of a
// record's |text|, as the commit records and the journal's heads write them. False, |text| as
// it was, for anything else.
bool TakeNumber(std::string_view& text, std::uint64_t& out, int base = 10);

// Whether |line| may stand in a commit as a log line: one line, ending in "\n".
bool IsOneLine(std::string_view line);

// Commits |card_line| as the card file's content and, in the same commit, appends |log| (when
// named): appends the record to the journal and flushes it, then replaces the card and writes
// the line. Needs the card lock. True once the record is durable: the tag is then in the books
// whatever fails next (a failure to put card or line in place is named on standard error and
// left to the next holder of the lock). False, with the detail on standard error, when the
// record did not become durable: then nothing of the commit is in the books or ever will be.
[[nodiscard]] bool CommitCard(std::string card_line, LogAppend log);

// Makes the log of |commit| hold its line at the recorded length (at the end of a log found
// shorter), writing only what differs. No flush. Needs the card lock. Doing it twice does no
// harm, which is what lets recovery repeat a commit.
[[nodiscard]] bool ApplyLogLine(const CardCommit& commit);

// Makes the card file hold |card_line|, replacing it only when it differs. No flush.
[[nodiscard]] bool ApplyCardLine(std::string_view card_line);

// Takes the card lock and brings the books up to the journal (OpenJournal), so that card and
// logs agree while the lock is held. Returns the lock's descriptor, or -1 (detail on standard
// error) when the lock cannot be opened or taken, or the books cannot be brought up to the
// journal. Without the lock nothing may be read for a change or changed: another terminal
// could be halfway through the same card.
int LockCard();

// Checkpoints the journal (CheckpointJournal), for a change the journal does not hold, such as
// a log emptied at a terminal's start. Needs the card lock. False (detail on standard error)
// when the books could not be made durable.
[[nodiscard]] bool CheckpointCard();
