// SPDX-License-Identifier: Apache-2.0
// The books as the store keeps them: one file whose whole content a change may replace (the
// card) and the files a change appends to (the logs, the reports), kept all or nothing through a
// journal beside that file. The store keeps bytes; what is sound, the records above it say
// through BookRules.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// The lock every change and every reader of the books holds: a file never replaced.
inline constexpr std::string_view kCardLockName = "usercard.lock";

// The most of the card file anyone reads: a card line is a few dozen bytes, and nothing past
// this can belong to a sound card.
inline constexpr std::size_t kLongestCard = 4096;

// Bytes to append, in the same change as a card, to one of the files the books append to.
struct BookAppend {
  std::string name;   // the file's name; empty for a change without it
  std::string bytes;  // whole lines, each ending in "\n"
};

struct BookRules {
  std::string_view card_name;                  // the file a change replaces whole
  bool (*is_card_line)(std::string_view);      // whether bytes may stand as its content
  bool (*is_appended_name)(std::string_view);  // whether a file name is one a change appends to
};

// Takes the card lock and brings the books up to the journal, which stays open for the change
// that follows. The lock's descriptor, or -1 (detail on standard error) when the lock cannot be
// taken or the books brought up. Without the lock nothing may be read for a change or changed.
int LockBooks(const BookRules& rules);

// Lets go of a lock from LockBooks and of the journal it kept open; -1 is ignored.
void UnlockBooks(int lock);

// What CommitChange did.
struct Committed {
  bool done = false;       // the change is in the books
  std::size_t failed = 0;  // when not done: the append that could not be made ready, else 0
};

// Commits |card_line| as the card (none: the card stays as it is) and, in the same change,
// each of |appends| that names a file: one journal record made durable with one device flush,
// then all of it put in place. Needs the card lock. Done once the record is durable (a failure
// to put it in place is named on standard error and left to the next holder of the lock); not
// done, detail on standard error, when it did not become durable: then nothing of the change is
// in the books or ever will be.
[[nodiscard]] Committed CommitChange(const BookRules& rules, std::string card_line,
                                     std::vector<BookAppend> appends);

// Makes the books durable and empties the journal, before a change the journal does not hold
// (a log emptied at a terminal's start). Needs the card lock. False, detail on standard error.
[[nodiscard]] bool CheckpointBooks(const BookRules& rules);
