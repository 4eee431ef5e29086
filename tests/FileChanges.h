// SPDX-License-Identifier: Apache-2.0
// The seams the tests link: file changes made on the real files, recorded while a test asks as a
// power cut's model needs them and failed when it says so; the boot and the clock as it sets them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct FileChange {
  enum Kind { kCreate, kWrite, kTruncate, kSync, kRename, kExchange, kRemove, kSyncDirectory } kind;
  std::uint64_t file = 0;  // the inode created, written, truncated or synced
  std::string name, to;    // the entry created, removed or renamed; where it went, or swapped with
  std::uint64_t offset = 0;  // where a write began; the length a truncate left
  std::string bytes;         // what a write wrote
};

// Records every change from now on, forgetting earlier ones, until StopRecording hands them over.
void StartRecording();
std::vector<FileChange> StopRecording();
// From the |step|-th change since this call (from 1; 0 never comes), |count| changes fail with
// |error|, not made; a failed flush is recorded all the same, as a disk may write it anyway.
void FailChangesFrom(std::size_t step, int error, std::size_t count = SIZE_MAX);
void SetBootId(std::string boot);           // what BootId() answers from now on
void SetCurrentTime(std::int64_t seconds);  // what CurrentTime() answers from now on
