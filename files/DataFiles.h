// SPDX-License-Identifier: Apache-2.0
// The data directory and the few helpers that own every open, write, sync, rename and close of
// a data file, every change through the file seam (FileSeam.h). A helper that fails leaves errno
// as the failing call set it and, unless said otherwise, prints a detail on standard error.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The data directory as chosen: $FARE_DATA_DIR when that is set and not empty
// (|from_environment|), otherwise the built-in default ("../../" unless the build names one).
struct DataDirectory {
  std::string name;
  bool from_environment = false;
};
DataDirectory ChosenDataDirectory();

// Path of data file |name| in that directory, which need not exist.
std::string DataPath(std::string_view name);

// Whether the data directory is there, a directory; when not, says so, naming it.
[[nodiscard]] bool DataDirectoryExists();

// Prints the detail "prog: path: reason" for errno, or "prog: path: what"; errno stays.
void ReportFileError(const std::string& path);
void ReportFileProblem(const std::string& path, const std::string& what);

// Reads at most |limit| bytes of |fd| from |offset| on. Nothing when a read fails; prints nothing.
std::optional<std::string> ReadFrom(int fd, std::size_t limit, std::uint64_t offset = 0);

// Writes all of |bytes| to |fd| at |offset|, retrying after interruptions and short writes.
// False on failure (ENOSPC for a write that wrote nothing); prints nothing.
bool WriteAllAt(int fd, std::string_view bytes, std::uint64_t offset);

// The directory part of |path|, with its slash: "../../" for "../../usercard.txt".
std::string DirectoryOf(const std::string& path);

// Flushes the directory that holds |path|: entries created, renamed or removed there.
[[nodiscard]] bool SyncDirectoryOf(const std::string& path);

// Renames |from| to the first of name_for(1) ... name_for(count) that no entry has taken, never
// replacing one, and returns it; each name is asked for once, in order, up to the one taken or
// the first rename that fails otherwise. Nothing (EEXIST: all were taken); prints nothing.
std::optional<std::string> RenameToFreeName(const std::string& from, int count,
                                            const std::function<std::string(int)>& name_for);

// Closes |fd| if it is open, leaving errno as it was; -1 is ignored.
void CloseFile(int fd);

// Opens |path| with |flags| through the seam, creating it when missing, as every file the
// programs make is created: 0666 less the umask and, in a directory its group may write and
// others may not, the group's to read and write. Prints nothing.
int OpenCreating(const std::string& path, int flags);

// The file that |path| names once every symbolic link is followed (the file need not exist). In
// a sticky directory that everyone may write to, a link is followed only when it is the running
// user's or the directory's owner's; nothing for any other link, and for a loop.
std::optional<std::string> RealPathOf(const std::string& path);

// Opens a file a person names (the card, a log, a report) through its links as RealPathOf
// follows them, with |flags| (O_CREAT as OpenCreating makes a file); refuses to write one with a
// second name in such a directory. -1 on failure, said but for a missing file to read (ENOENT).
int OpenDataFile(const std::string& path, int flags);

// Reads at most |limit| bytes of |path|. Nothing when it cannot be opened (as OpenDataFile says;
// a missing file, ENOENT, is an ordinary answer for the callers) or read (not said).
std::optional<std::string> ReadFilePrefix(const std::string& path, std::size_t limit);

// Flushes the data of the file |path| names.
[[nodiscard]] bool SyncFileAt(const std::string& path);

// Opens one of the system's own files (a lock, or one a layer above keeps) to read and write,
// or only to read where it may not be written (|writable| tells), never through a link nor
// waiting on a FIFO. A missing one is created exclusively when |create|, else is -1 (ENOENT)
// and not said. One found is used only when nobody the directory does not trust can have made
// or can write it; otherwise it is left untouched and -1 is returned (EPERM).
int OpenOwnFile(const std::string& path, bool create, bool& writable);

// Writes |bytes| into a new file beside |real| (a file's real path) under a name of the
// system's own, with the mode and group of |real| (shared with a group as OpenCreating shares),
// or as OpenCreating makes a file when |real| does not exist; synced when |durable|. Its path;
// nothing when it could not be written (then no such file is left) or |real| is no regular file.
std::optional<std::string> WriteBeside(const std::string& real, std::string_view bytes,
                                       bool durable);

// Puts the file |beside| (from WriteBeside) in place of the file |real|, which any reader then
// sees whole, old or new. No flush. False when it could not; prints nothing.
[[nodiscard]] bool MoveOver(const std::string& beside, const std::string& real);

// Replaces the file that |path| names (following symbolic links, which stay links) with one
// holding |bytes|, written beside it and renamed over it: any reader sees the old content or
// the new, whole. When |durable|, the new content and its directory entry are flushed.
[[nodiscard]] bool ReplaceFile(const std::string& path, std::string_view bytes, bool durable);

// A terminal's start keeps the lines of the run before instead of destroying them: the log, its
// blocks and all, goes to a name of its own beside it, and a new empty log takes its place.
// The name's stem says when the run of the log |log_name| ("1111.txt") that a start at |start|
// (seconds since the epoch) ends was kept: "1111.txt.run-20261208T130502Z", in UTC whatever the
// time zone; |sequence| 2 to 99 appends "-02" to "-99". A suffix says what a settlement made of
// its lines: kSettledSuffix, kUnsettledSuffix, or for a moment kSplitSuffix and kSettlingSuffix.
std::string KeptRunName(const std::string& log_name, std::int64_t start, int sequence = 1);
// The stem that sorts right after the kept run's |stem|: its next sequence, past 99 the next
// second's first; a stem of another form gains "-02".
std::string StemAfter(const std::string& stem);
inline constexpr std::string_view kSettledSuffix = ".settled";
inline constexpr std::string_view kUnsettledSuffix = ".unsettled";
inline constexpr std::string_view kSplitSuffix = ".split-";        // and the bytes settled
inline constexpr std::string_view kSettlingSuffix = ".settling-";  // and the settlement's name

// Empties the log |path| durably, as a terminal's start does, keeping its lines: the file the
// log names (through its links as RealPathOf follows them; they stay) is swapped in one step
// with a new empty file of its mode and group, first put beside it under the next stem, one
// that sorts after every kept run of the log there: KeptRunName for |start|, or, when the clock
// reads no later than the latest stem, StemAfter it.
// The first |settled| bytes are the ones a settlement covered: the run is kept as settled, as
// not settled, or split in two (see FinishSplits), a split an earlier start left half done
// finished first. A power cut leaves the old log in place (perhaps with an empty kept run) or
// the new empty log with the old lines kept; a missing or empty log is only replaced. Needs
// every writer of the log held off, with nothing pending that could still add lines. False,
// with the detail said, when it could not; the old lines then stand in one of the two.
[[nodiscard]] bool KeepRun(const std::string& path, std::int64_t start, std::uint64_t settled = 0);

// Finishes every split of a kept run of the log |log_name| in |dir| (a directory with its
// slash) that a start began: the run STEM.split-N keeps its first N bytes as STEM.settled and
// the rest goes to StemAfter(STEM).unsettled, written whole and flushed before the run is cut,
// so that any step can be done again after a crash. False, with the detail said, when one could not
// be.
[[nodiscard]] bool FinishSplits(const std::string& dir, const std::string& log_name);

// The names in the directory |dir| that begin with |prefix|, in byte order. Nothing when the
// directory cannot be read; prints nothing.
std::optional<std::vector<std::string>> EntriesStartingWith(const std::string& dir,
                                                            std::string_view prefix);

// Renames the entry |from| to |to|, never over another entry. No flush. False, with the detail
// said, when it could not.
[[nodiscard]] bool RenameEntry(const std::string& from, const std::string& to);

// What tells the first |length| bytes of the open file |fd| from those of another file, or of
// the same file later: "INODE LENGTH SUM", the sum over its first and its last 64 bytes up to
// |length|. Nothing when the file is shorter or cannot be read; prints nothing.
std::optional<std::string> ContentStamp(int fd, std::uint64_t length);

// How long LockFile waits for a lock another process holds before it says so, and gives up.
inline constexpr int kLockWaitNoticeSeconds = 1;
inline constexpr int kLockWaitSeconds = 10;

// Takes an exclusive advisory lock on |path|, one of the system's own files (OpenOwnFile;
// created when missing, never replaced), waiting for any holder when |wait|. A wait past
// kLockWaitNoticeSeconds is told on standard error once, with the holder's process ID where
// the system tells it; a wait ends without the lock after kLockWaitSeconds (ETIMEDOUT), or at
// once on a SIGINT the caller holds blocked (EINTR), since a Ctrl-C is then waiting for nothing.
// The descriptor that holds the lock, or -1 (without |wait| and held elsewhere: EWOULDBLOCK,
// not said); the kernel drops the lock when its last holder closes it or dies. A wait takes
// over the process's SIGALRM (handler and mask) and ITIMER_REAL timer, which no other thread
// may use meanwhile, then puts both back: an armed timer less the wait, due at once if spent.
int LockFile(const std::string& path, bool wait = true);

// Releases a lock taken by LockFile; -1 is ignored.
inline void UnlockFile(int fd) { CloseFile(fd); }
