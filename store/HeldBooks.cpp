// SPDX-License-Identifier: Apache-2.0
// The books held: the card lock and the journal, taken, brought up and let go together.
#include <cerrno>
#include <cstdio>

#include "DataFiles.h"
#include "Journal.h"

HeldBooks::HeldBooks() = default;
HeldBooks::HeldBooks(HeldBooks&& other) noexcept
    : lock(other.lock), journal(std::move(other.journal)), rules(other.rules) {
  other.lock = -1;
}
HeldBooks& HeldBooks::operator=(HeldBooks&& other) noexcept {
  if (this != &other) {
    UnlockBooks(*this);
    lock = other.lock;
    journal = std::move(other.journal);
    rules = other.rules;
    other.lock = -1;
  }
  return *this;
}
HeldBooks::~HeldBooks() { UnlockBooks(*this); }

bool Held(const HeldBooks& books) { return books.lock >= 0 && books.journal != nullptr; }

HeldBooks LockBooks(const BookRules& rules) {
  HeldBooks books;
  books.rules = rules;
  books.lock = LockFile(DataPath(kCardLockName));
  if (books.lock < 0) return books;
  books.journal = std::make_unique<Journal>();
  if (!OpenJournal(rules, *books.journal) || !BringBooksUp(*books.journal)) UnlockBooks(books);
  return books;
}

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
