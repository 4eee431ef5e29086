// SPDX-License-Identifier: Apache-2.0
// The seams the tests link: the file seam makes every change on the real files, and records it
// while a test asks, with what a simulated power cut needs to know; a test can also make every
// change from a chosen one on fail, as a disk that gives up does, set the boot the journal sees
// and the time the clock tells.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct FileChange {
  enum Kind { kCreate, kWrite, kTruncate, kSync, kRename, kExchange, kRemove, kSyncDirectory } kind;
  std::uint64_t file = 0;    // the inode created, written, truncated or synced
  std::string name;          // the entry created, removed or renamed (its last path part)
  std::string to;            // where it was renamed to, or the entry it swapped with
  std::uint64_t offset = 0;  // where a write began; the length a truncate left
  std::string bytes;         // what a write wrote
};

// Records every change from now on, forgetting earlier ones.
void StartRecording();
// The changes recorded since StartRecording; recording stops.
std::vector<FileChange> StopRecording();
// The number of changes counted since StartRecording, made or failed.
std::size_t ChangesMade();

// From the |step|-th change on (counted from 1 since this call), |count| changes (every one by
// default) fail with |error| and are not made; step 0 never comes. A flush that fails is
// recorded all the same: a disk may report a flush failed whose data it wrote.
void FailChangesFrom(std::size_t step, int error, std::size_t count = SIZE_MAX);

// What BootId() answers from now on.
void SetBootId(std::string boot);

// What CurrentTime() answers from now on.
void SetCurrentTime(std::int64_t seconds);
