// SPDX-License-Identifier: Apache-2.0
#include <optional>

#include "DataFiles.h"
#include "Journal.h"

namespace {

// The journal LockBooks opened, until UnlockBooks: the lock's holder reads it once per change.
std::optional<Journal> held;

}  // namespace

Journal* HeldJournal() { return held ? &*held : nullptr; }

int LockBooks(const BookRules& rules) {
  UnlockBooks(-1);
  const int lock = LockFile(DataPath(kCardLockName));
  if (lock < 0) return -1;
  held = OpenJournal(rules);
  if (!held) UnlockFile(lock);
  return held ? lock : -1;
}

void UnlockBooks(int lock) {
  if (held) CloseJournal(*held);
  held.reset();
  UnlockFile(lock);
}

bool CheckpointBooks(const BookRules& rules) {
  if (Journal* journal = HeldJournal()) return CheckpointJournal(*journal);
  auto journal = OpenJournal(rules);
  const bool ok = journal && CheckpointJournal(*journal);
  if (journal) CloseJournal(*journal);
  return ok;
}
