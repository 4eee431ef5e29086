// SPDX-License-Identifier: Apache-2.0
// The books as the store keeps them: one file whose whole content a change may replace (the
// card) and the files a change appends to (the logs, the reports), kept all or nothing through a
// journal beside that file. The store keeps bytes; what is sound, the records above it say
// through BookRules.
#pragma once

#include <cstddef>
#include <memory>
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

struct Journal;  // the store's own, open while the books are held

// The books as the holder of the card lock has them: the lock and the journal, brought up to
// the card and the files when the lock was taken, kept open for the changes that follow so that
// a tag reads the journal once. Made by LockBooks; let go by UnlockBooks, or when it ends. It
// can be neither copied nor moved, so that one hold has one owner.
struct HeldBooks {
  int lock = -1;  // the card lock's descriptor; -1 when nothing is held
  std::unique_ptr<Journal> journal;
  BookRules rules{};

  explicit HeldBooks(const BookRules& books_rules);  // LockBooks
  ~HeldBooks();
};

// Whether |books| hold the card lock and the journal.
bool Held(const HeldBooks& books);

// Takes the card lock and brings the books up to the journal. The books held, or not held
// (detail on standard error) when the lock cannot be taken or the books brought up: then
// nothing may be read for a change or changed. Needs the lock not held already by this
// process, which would wait for itself.
HeldBooks LockBooks(const BookRules& rules);

// Lets go of the lock and the journal of |books|, which are then not held; books not held are
// left as they are.
void UnlockBooks(HeldBooks& books);

// What CommitChange did.
struct Committed {
  bool done = false;       // the change is in the books
  std::size_t failed = 0;  // when not done: the append that could not be made ready, else 0
};

// Commits |card_line| as the card (none: the card stays as it is) and, in the same change,
// each of |appends| that names a file: one journal record made durable with one device flush,
// then all of it put in place. Needs |books| held; books not held refuse the change, saying so
// on standard error. Done once the record is durable (a failure to put it in place is named on
// standard error and left to the next holder of the lock); not done, detail on standard error,
// when it did not become durable: then nothing of the change is in the books or ever will be.
[[nodiscard]] Committed CommitChange(HeldBooks& books, std::string card_line,
                                     std::vector<BookAppend> appends);

// Makes the books durable and empties the journal, before a change the journal does not hold
// (a log emptied at a terminal's start). Needs |books| held. False, detail on standard error.
[[nodiscard]] bool CheckpointBooks(HeldBooks& books);
