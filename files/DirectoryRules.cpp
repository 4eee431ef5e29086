// SPDX-License-Identifier: Apache-2.0
// The system's own files decide what is charged and a person's file may be written in place, so
// a file, a link or a second name is taken only from someone the data directory trusts.
#include "DirectoryRules.h"

#include <fcntl.h>
#include <unistd.h>

#include <optional>

#include "DataFiles.h"
#include "FileSeam.h"

namespace {

// Who besides its owner may make entries in a directory: nobody, its group alone, everyone (and
// remove anyone's), or everyone under the sticky bit (and remove only their own), in this order.
enum class Sharing { kOwnerOnly, kGroup, kEveryone, kSticky };
struct Directory {
  Sharing sharing;
  uid_t owner;
  gid_t group;
};

// The directory that holds the entry |path|, the one place one is looked at for a rule.
std::optional<Directory> DirectoryHolding(const std::string& path) {
  struct stat dir {};
  if (stat(DirectoryOf(path).c_str(), &dir) != 0) return std::nullopt;
  Sharing sharing = (dir.st_mode & S_IWGRP) != 0 ? Sharing::kGroup : Sharing::kOwnerOnly;
  if ((dir.st_mode & S_IWOTH) != 0) {
    sharing = (dir.st_mode & S_ISVTX) != 0 ? Sharing::kSticky : Sharing::kEveryone;
  }
  return Directory{sharing, dir.st_uid, dir.st_gid};
}

// Whether an entry of |owner| in |dir| was made by someone the directory trusts. Where everyone
// may make entries, only the running user, root and the directory's owner can be told from a
// planter; elsewhere every entry is the owner's or the group's.
bool MadeByTheTrusted(uid_t owner, const Directory& dir) {
  return dir.sharing < Sharing::kEveryone || owner == geteuid() || owner == 0 || owner == dir.owner;
}

}  // namespace

bool MayTrust(const std::string& path, int fd) {
  struct stat file {};
  if (fstat(fd, &file) != 0) return false;
  const auto dir = DirectoryHolding(path);
  // A second name could be another user's way into a file of root's.
  if (!dir || !S_ISREG(file.st_mode) || file.st_nlink != 1) return false;
  const bool others_write =
      (file.st_mode & S_IWOTH) != 0 || ((file.st_mode & S_IWGRP) != 0 && file.st_gid != dir->group);
  return !others_write && MadeByTheTrusted(file.st_uid, *dir);
}

bool MayRemove(const std::string& path) {
  struct stat entry {};
  if (lstat(path.c_str(), &entry) != 0) return false;
  const auto dir = DirectoryHolding(path);
  return dir && MadeByTheTrusted(entry.st_uid, *dir);
}

bool MayFollow(const std::string& path, const struct stat& link) {
  const auto dir = DirectoryHolding(path);
  return dir && (dir->sharing != Sharing::kSticky || link.st_uid == geteuid() ||
                 link.st_uid == dir->owner);
}

bool MayWriteInPlace(const std::string& path, int fd) {
  struct stat file {};
  if (fstat(fd, &file) != 0 || file.st_nlink <= 1) return true;
  const auto dir = DirectoryHolding(path);
  return !dir || dir->sharing != Sharing::kSticky;
}

void ShareWithGroup(int fd, const std::string& path) {
  struct stat file {};
  if (fstat(fd, &file) != 0) return;
  const auto dir = DirectoryHolding(path);
  // Every member must be able to go on with a file another made in the group's directory; where
  // everyone may write, the directory's group is nobody's in particular.
  const bool mine = S_ISREG(file.st_mode) && file.st_uid == geteuid();
  if (!dir || dir->sharing != Sharing::kGroup || !mine) return;
  // A directory without the set-group-ID bit leaves the creator's own group.
  const uid_t same_owner = static_cast<uid_t>(-1);
  if (file.st_gid != dir->group && SeamChangeOwner(fd, same_owner, dir->group) != 0) return;
  const mode_t mode = file.st_mode & 07777;
  const mode_t shared = mode | S_IRGRP | S_IWGRP;
  if (shared != mode) (void)SeamChangeMode(fd, shared);
}

int OpenCreating(const std::string& path, int flags) {
  const int fd = SeamOpen(path.c_str(), flags | O_CREAT, 0666);
  if (fd >= 0) ShareWithGroup(fd, path);
  return fd;
}
