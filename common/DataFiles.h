// The data directory and the few helpers that own every open, write and close of a data file.
// Every helper that fails prints one detail line on standard error ("prog: path: reason") and
// leaves errno as the failing call set it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// Path of data file |name|: in the directory $FARE_DATA_DIR when that is set and not empty,
// otherwise in "../../". Whether the directory exists is left to the file operations.
std::string DataPath(std::string_view name);

// Writes |bytes| over |path| as an ordinary in-place write does: through a symbolic link, keeping
// the mode of an existing file, creating a new one with 0666 less the umask. Durable on success
// (the file synced, and the directory too when the file is new). One durable step: a crash can
// leave the file cut short, which is why the card goes through a card commit.
[[nodiscard]] bool WriteFileInPlace(const std::string& path, std::string_view bytes);

// Cuts |path| back to |offset| bytes (to its own length when that is shorter), writes |bytes|
// there and syncs; a missing file is created as WriteFileInPlace creates one. One durable step;
// on failure the file may hold part of |bytes| after |offset|.
[[nodiscard]] bool WriteFileAt(const std::string& path, std::uint64_t offset,
                               std::string_view bytes);

// The size of the file |path|, created empty (and durably) when missing: so a file that cannot
// be written there shows before anything else is. Nothing on failure (detail on standard error).
std::optional<std::uint64_t> FileSizeOf(const std::string& path);

// Reads at most |limit| bytes of |path|. Nothing when it cannot be opened or read, errno telling
// why (ENOENT: there is no such file); no detail line is printed, since a missing file is an
// ordinary answer for the callers.
std::optional<std::string> ReadFilePrefix(const std::string& path, std::size_t limit);

// Opens |path| for appending, creating it when missing. Returns the descriptor or -1.
int OpenForAppend(const std::string& path);

// Appends |bytes| to |fd| with one write and makes it durable with fsync. A short write is
// reported as failure (|path| only names the file in the detail line).
[[nodiscard]] bool AppendDurably(int fd, std::string_view bytes, const std::string& path);

// Creates |path| empty or empties it, durably, as WriteFileInPlace writes: a log that a later
// commit appends to must not vanish with its directory entry in a power cut.
[[nodiscard]] bool EmptyFile(const std::string& path);

// Takes an exclusive advisory lock on |path| (created when missing, never replaced), waiting
// for any holder. Returns the descriptor that holds it, or -1. The kernel drops the lock when
// the descriptor is closed or its process dies.
int LockFile(const std::string& path);

// Releases a lock taken by LockFile; -1 is ignored.
void UnlockFile(int fd);

// Closes |fd| if it is open; -1 is ignored.
void CloseFile(int fd);

// Prints "prog: path: reason" for errno on standard error.
void ReportFileError(const std::string& path);
