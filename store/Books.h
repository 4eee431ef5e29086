// SPDX-License-Identifier: Apache-2.0
// The books as the store keeps them: one file whose whole content every change replaces (the
// card) and the logs a change appends a line to, kept all or nothing through a journal beside
// that file. The store keeps bytes; what is sound, the records above it say through BookRules.
#pragma once

#include <string>
#include <string_view>

// The lock every change and every reader of the books holds: a file never replaced.
inline constexpr std::string_view kCardLockName = "usercard.lock";

// A log line to append in the same change as a card.
struct LogAppend {
  std::string name;  // a log's file name; empty for a change without a log line
  std::string line;  // one whole line, ending in "\n"
};

struct BookRules {
  std::string_view card_name;              // the file every change replaces
  bool (*is_card_line)(std::string_view);  // whether bytes may stand as its content
  bool (*is_log_name)(std::string_view);   // whether a file name is one of the logs
};

// Takes the card lock and brings the books up to the journal, which stays open for the change
// that follows. The lock's descriptor, or -1 (detail on standard error) when the lock cannot be
// taken or the books brought up. Without the lock nothing may be read for a change or changed.
int LockBooks(const BookRules& rules);

// Lets go of a lock from LockBooks and of the journal it kept open; -1 is ignored.
void UnlockBooks(int lock);

// Commits |card_line| as the card and, in the same change, appends |log| when named: one
// journal record made durable with one device flush, then both put in place. Needs the card
// lock. True once the record is durable (a failure to put it in place is named on standard
// error and left to the next holder of the lock); false, detail on standard error, when it did
// not become durable: then nothing of the change is in the books or ever will be.
[[nodiscard]] bool CommitChange(const BookRules& rules, std::string card_line, LogAppend log);

// Makes the books durable and empties the journal, before a change the journal does not hold
// (a log emptied at a terminal's start). Needs the card lock. False, detail on standard error.
[[nodiscard]] bool CheckpointBooks(const BookRules& rules);
