// SPDX-License-Identifier: Apache-2.0
// The data directory and the few helpers that own every open, write, sync, rename and close of
// a data file; every change goes through the file seam (FileSeam.h). Every helper that fails
// prints one detail line on standard error ("prog: path: reason") and leaves errno as the
// failing call set it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include <sys/types.h>

// Path of data file |name|: in the directory $FARE_DATA_DIR when that is set and not empty,
// otherwise in "../../". Whether the directory exists is left to the file operations.
std::string DataPath(std::string_view name);

// Reads at most |limit| bytes of |path|. Nothing when it cannot be opened or read, errno telling
// why (ENOENT: there is no such file); no detail line is printed, since a missing file is an
// ordinary answer for the callers.
std::optional<std::string> ReadFilePrefix(const std::string& path, std::size_t limit);

// Reads at most |limit| bytes of |fd| from |offset| on. Nothing when a read fails, errno set.
std::optional<std::string> ReadFrom(int fd, std::size_t limit, std::uint64_t offset = 0);

// Writes all of |bytes| to |fd| at |offset|, retrying after interruptions and short writes.
// False on failure, errno set (ENOSPC for a write that wrote nothing); prints nothing.
bool WriteAllAt(int fd, std::string_view bytes, std::uint64_t offset);

// The file that |path| names once every symbolic link is followed; |path| itself when it is no
// link. The file need not exist. In a directory that everyone may write to and whose sticky bit
// is set, a link is followed only when it belongs to the user running the program or to the
// directory's owner; nothing (detail on standard error) for any other link, and for a loop.
std::optional<std::string> RealPathOf(const std::string& path);

// Opens a file a person names (the card, a log, a report) through its links as RealPathOf
// follows them, then with |flags|; with O_CREAT as OpenCreating does. A file opened for writing
// that has a second name in such a shared directory is refused. -1, errno set, on failure,
// named on standard error but for a file that is not there to read (ENOENT).
int OpenDataFile(const std::string& path, int flags);

// Opens one of the system's own files (a lock, the journal) for reading and writing, or for
// reading only where it may not be written (|writable| tells), never through a link and never
// waiting on a FIFO. A missing one is created exclusively (OpenCreating) when |create|,
// and is otherwise -1 with errno ENOENT and nothing said. A file it finds is used only when
// MayTrust says so; otherwise it is left untouched and -1 is returned (errno EPERM), named on
// standard error like any other failure.
int OpenOwnFile(const std::string& path, bool create, bool& writable);

// Whether the system's own file |fd|, found at |path|, may be trusted: a plain file with no other
// name, that nobody outside the directory's group can write; in a directory everyone may write
// to, it must also belong to the user running the program, to root or to the directory's owner.
bool MayTrust(const std::string& path, int fd);

// Whether the entry |path| (a file written beside another that a killed program left) may be
// removed: it was made by the user running the program, root or the directory's owner, or in
// a directory that only its owner and group may write to.
bool MayRemove(const std::string& path);

// Opens |path| with |flags| through the file seam, creating it when missing (0666 less the
// umask), then shares it as ShareWithGroup does. -1, errno set, when it cannot; prints nothing.
// Every file the programs make is made here.
int OpenCreating(const std::string& path, int flags);

// In a data directory its group may write and others may not, gives the file |fd|, found at
// |path|, when it is the running user's, the directory's group and the group's permission to
// read and write it, whatever the umask: every member can then go on with it. Elsewhere, and
// for another user's file, changes nothing. A failure changes nothing and is not reported.
void ShareWithGroup(int fd, const std::string& path);

// The directory part of |path|, with its slash: "../../" for "../../usercard.txt".
std::string DirectoryOf(const std::string& path);

// Writes |bytes| into a new file beside |real| (a file's real path) under a name of the
// system's own, with the mode and group of |real| (shared as ShareWithGroup shares), or as
// OpenCreating makes a file when |real| does not exist; synced when |durable|. Returns its path, or
// nothing when it could not be written (then no such file is left) or |real| is no regular file.
std::optional<std::string> WriteBeside(const std::string& real, std::string_view bytes,
                                       bool durable);

// Puts the file |beside| (from WriteBeside) in place of the file |real|, which any reader then
// sees whole, old or new. No flush. False, errno set, when it could not.
[[nodiscard]] bool MoveOver(const std::string& beside, const std::string& real);

// Replaces the file that |path| names (following symbolic links, which stay links) with one
// holding |bytes|, written beside it and renamed over it: any reader sees the old content or
// the new, whole. When |durable|, the new content and its directory entry are flushed.
[[nodiscard]] bool ReplaceFile(const std::string& path, std::string_view bytes, bool durable);

// Flushes the data of the file |path| names.
[[nodiscard]] bool SyncFileAt(const std::string& path);

// Flushes the directory that holds |path|: entries created, renamed or removed there.
[[nodiscard]] bool SyncDirectoryOf(const std::string& path);

// Opens |path| (a report) for appending, as OpenDataFile opens a file, creating it when
// missing. Returns the descriptor, or -1 with the detail on standard error.
int OpenForAppend(const std::string& path);

// Appends |bytes| to |fd| with one write and flushes it. A write that fails, whole or in part,
// leaves nothing of |bytes| behind (|path| only names the file in the detail line).
[[nodiscard]] bool AppendDurably(int fd, std::string_view bytes, const std::string& path);

// How long LockFile waits for a lock another process holds before it says so on standard
// error, and before it gives up.
inline constexpr int kLockWaitNoticeSeconds = 1;
inline constexpr int kLockWaitSeconds = 10;

// Takes an exclusive advisory lock on |path|, one of the system's own files (OpenOwnFile;
// created when missing, never replaced), waiting for any holder when |wait|. A wait past
// kLockWaitNoticeSeconds is told on standard error once, with the holder's process ID where
// the system tells it; a wait ends without the lock after kLockWaitSeconds (errno ETIMEDOUT),
// or at once on a SIGINT the caller holds blocked (errno EINTR), since a Ctrl-C is then waiting
// for nothing. Returns the descriptor that holds the lock, or -1: without |wait| and held
// elsewhere, errno EWOULDBLOCK and nothing said; otherwise the detail on standard error. The
// kernel drops the lock when the descriptor's last holder closes it or dies.
int LockFile(const std::string& path, bool wait = true);

// Releases a lock taken by LockFile; -1 is ignored.
void UnlockFile(int fd);

// Closes |fd| if it is open; -1 is ignored.
void CloseFile(int fd);

// Prints "prog: path: reason" for errno on standard error.
void ReportFileError(const std::string& path);
