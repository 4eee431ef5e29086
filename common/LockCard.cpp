// SPDX-License-Identifier: Apache-2.0
#include "CardCommit.h"
#include "DataFiles.h"
#include "Journal.h"

int LockCard() {
  const int lock = LockFile(DataPath(kCardLockName));
  if (lock < 0) return -1;
  auto journal = OpenJournal(false);
  if (!journal) {
    UnlockFile(lock);
    return -1;
  }
  CloseJournal(*journal);
  return lock;
}

bool CheckpointCard() {
  auto journal = OpenJournal(false);
  const bool ok = journal && CheckpointJournal(*journal);
  if (journal) CloseJournal(*journal);
  return ok;
}
