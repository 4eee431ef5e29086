// SPDX-License-Identifier: Apache-2.0
// The books held: the card lock and the journal, taken, brought up and let go together.
#include <cerrno>
#include <cstdio>

#include "DataFiles.h"
#include "Journal.h"

HeldBooks::HeldBooks(const BookRules& books_rules)
    : lock(LockFile(DataPath(kCardLockName))), rules(books_rules) {
  if (lock < 0) return;
  journal = std::make_unique<Journal>();
  if (!OpenJournal(rules, *journal) || !BringBooksUp(*journal)) UnlockBooks(*this);
}

HeldBooks::~HeldBooks() { UnlockBooks(*this); }

bool Held(const HeldBooks& books) { return books.lock >= 0 && books.journal != nullptr; }

// Returned as made, never moved: C++17 elides the copy of a returned temporary.
HeldBooks LockBooks(const BookRules& rules) { return HeldBooks(rules); }

void UnlockBooks(HeldBooks& books) {
  if (books.journal) CloseJournal(*books.journal);
  books.journal.reset();
  UnlockFile(books.lock);
  books.lock = -1;
}

bool HeldForChange(const HeldBooks& books) {
  if (Held(books)) return true;
  std::fprintf(stderr, "%s: %s: not held; the books are not changed\n",
               program_invocation_short_name, DataPath(kCardLockName).c_str());
  errno = ENOLCK;
  return false;
}

bool CheckpointBooks(HeldBooks& books) {
  return HeldForChange(books) && PutInPlaceAndCheckpoint(*books.journal);
}
