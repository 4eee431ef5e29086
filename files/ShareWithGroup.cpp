// SPDX-License-Identifier: Apache-2.0
// A data directory that a group may write is the group's books: every member must be able to go
// on with a file another made, whatever umask the one who made it logs in with.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "DataFiles.h"
#include "FileSeam.h"

void ShareWithGroup(int fd, const std::string& path) {
  struct stat file {};
  struct stat dir {};
  if (fstat(fd, &file) != 0 || stat(DirectoryOf(path).c_str(), &dir) != 0) return;
  // Where everyone may write, the directory's group is nobody's in particular.
  const bool group_directory = (dir.st_mode & S_IWGRP) != 0 && (dir.st_mode & S_IWOTH) == 0;
  if (!group_directory || !S_ISREG(file.st_mode) || file.st_uid != geteuid()) return;
  // A directory without the set-group-ID bit leaves the creator's own group.
  const uid_t same_owner = static_cast<uid_t>(-1);
  if (file.st_gid != dir.st_gid && SeamChangeOwner(fd, same_owner, dir.st_gid) != 0) return;
  const mode_t mode = file.st_mode & 07777;
  const mode_t shared = mode | S_IRGRP | S_IWGRP;
  if (shared != mode) (void)SeamChangeMode(fd, shared);
}

int OpenCreating(const std::string& path, int flags) {
  const int fd = SeamOpen(path.c_str(), flags | O_CREAT, 0666);
  if (fd >= 0) ShareWithGroup(fd, path);
  return fd;
}
