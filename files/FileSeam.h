// SPDX-License-Identifier: Apache-2.0
// The seam between the books and the disk. Every call that changes a data file or a directory
// entry, or makes a change durable, goes through one of these functions, and nothing else
// changes a data file: so a test can record every change, cut the power after any of them and
// keep only what a real power cut may keep, and a benchmark can count the device flushes or
// make them free. The programs link DirectFiles.cpp, which makes the system calls and nothing
// more. Each returns what its system call returns, with errno set.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <string>

// open(2): the only open that may create a file.
int SeamOpen(const char* path, int flags, mode_t mode);

// pwrite(2).
ssize_t SeamWrite(int fd, const void* bytes, std::size_t size, off_t offset);

// ftruncate(2).
int SeamTruncate(int fd, off_t length);

// fdatasync(2): a file's data, and its size, on the device.
int SeamSync(int fd);

// fsync(2) of a directory: the entries created, renamed or removed in it, on the device.
int SeamSyncDirectory(int fd);

// renameat2(2) with |flags|: 0 to replace |to|, RENAME_NOREPLACE to fail with EEXIST rather
// than replace it, RENAME_EXCHANGE to swap the two.
int SeamRename(const char* from, const char* to, unsigned flags);

// unlink(2).
int SeamRemove(const char* path);

// The identity of the machine's current boot, which a power cut changes: whatever was written
// but not synced before it may be gone. Empty when unknown.
std::string BootId();
