// SPDX-License-Identifier: Apache-2.0
// The rules a data directory sets for its files, whom it trusts and how a group's directory
// shares a file, each judging the directory in the same one way. Seen only inside files/.
#pragma once

#include <sys/stat.h>

#include <string>

// Whether the system's own file |fd|, found at |path|, may be trusted: a plain file of one name
// that nobody outside the directory's group can write and, in a directory everyone may write
// to, the running user's, root's or the directory's owner's.
bool MayTrust(const std::string& path, int fd);

// Whether the entry |path|, left by a killed program, may be removed: it is the running user's,
// root's or the directory's owner's, or others may not write to the directory.
bool MayRemove(const std::string& path);

// Whether the link |link| (its lstat), found at |path|, may be followed: in a sticky directory
// everyone may write to, only one of the running user's or of the directory's owner.
bool MayFollow(const std::string& path, const struct stat& link);

// Whether the open file |fd|, found at |path|, may be written in place: not with a second name
// in a sticky directory everyone may write to, where it may be anybody's.
bool MayWriteInPlace(const std::string& path, int fd);

// In a directory its group may write and others may not, gives the running user's file |fd|
// (at |path|) the directory's group and the group's permission to read and write it, whatever
// the umask, so that every member can go on with it. Elsewhere, or on a failure, changes nothing.
void ShareWithGroup(int fd, const std::string& path);
