// SPDX-License-Identifier: Apache-2.0
// The programs' side of the file seam: the system calls themselves. The syncs are in
// DirectSync.cpp, so that a benchmark can count them or make them free.
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

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
  const int fd = open("/proc/sys/kernel/random/boot_id", O_RDONLY | O_CLOEXEC);
  if (fd < 0) return {};
  char id[64];
  ssize_t n = 0;
  do {
    n = read(fd, id, sizeof id);
  } while (n < 0 && errno == EINTR);
  close(fd);
  std::string text(id, n > 0 ? static_cast<std::size_t>(n) : 0);
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
  return text;
}
