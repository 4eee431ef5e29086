// SPDX-License-Identifier: Apache-2.0
// The seam between the data files and the disk. Every call that changes a data file (its bytes,
// its mode or its owner) or a directory entry, or makes a change durable, goes through one of
// these functions: so a test can record every change, cut the power after any of them and keep
// only what a real power cut may keep, or fail any of them, and a benchmark can count the device
// flushes or make them free. The programs link DirectFiles.cpp, which makes the system calls and
// nothing more. Each returns what its system call returns, with errno set.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <string>

// open(2), the only open that may create a file; pwrite(2); ftruncate(2); fchmod(2); and
// fchown(2), where -1 leaves the owner or the group as it is.
int SeamOpen(const char* path, int flags, mode_t mode);
ssize_t SeamWrite(int fd, const void* bytes, std::size_t size, off_t offset);
int SeamTruncate(int fd, off_t length);
int SeamChangeMode(int fd, mode_t mode);
int SeamChangeOwner(int fd, uid_t owner, gid_t group);

// fdatasync(2): a file's data, and its size, on the device.
int SeamSync(int fd);

// fsync(2) of a directory: the entries created, renamed or removed in it, on the device.
int SeamSyncDirectory(int fd);

// renameat2(2): |flags| 0 replaces |to|, RENAME_NOREPLACE fails with EEXIST, RENAME_EXCHANGE swaps.
int SeamRename(const char* from, const char* to, unsigned flags);

int SeamRemove(const char* path);  // unlink(2)

// The identity of the machine's current boot, which a power cut changes: whatever was written
// but not synced before it may be gone. Empty when unknown.
std::string BootId();
