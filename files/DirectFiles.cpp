// SPDX-License-Identifier: Apache-2.0
// The programs' side of the file seam: the system calls themselves. The syncs are in
// DirectSync.cpp, so that a benchmark can count them or make them free.
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>

#include "FileSeam.h"

int SeamOpen(const char* path, int flags, mode_t mode) { return open(path, flags, mode); }
ssize_t SeamWrite(int fd, const void* bytes, std::size_t size, off_t offset) {
  return pwrite(fd, bytes, size, offset);
}
int SeamTruncate(int fd, off_t length) { return ftruncate(fd, length); }
int SeamChangeMode(int fd, mode_t mode) { return fchmod(fd, mode); }
int SeamChangeOwner(int fd, uid_t owner, gid_t group) { return fchown(fd, owner, group); }

int SeamRename(const char* from, const char* to, unsigned flags) {
  return renameat2(AT_FDCWD, from, AT_FDCWD, to, flags);
}

int SeamRemove(const char* path) { return unlink(path); }

std::string BootId() {
  std::ifstream file("/proc/sys/kernel/random/boot_id");
  std::string id;
  std::getline(file, id);
  return id;
}
