// The data directory and the few helpers that own every open, write and close of a data file.
// Every helper that fails prints one detail line on standard error ("prog: path: reason") and
// leaves errno as the failing call set it.
#pragma once

#include <optional>
#include <string>
#include <string_view>

// Path of data file |name|: in the directory $FARE_DATA_DIR when that is set and not empty,
// otherwise in "../../". Whether the directory exists is left to the file operations.
std::string DataPath(std::string_view name);

// Replaces |path| with |bytes|: writes a temporary file in the same directory, fsyncs it,
// renames it over |path| and fsyncs the directory. A crash leaves the old or the new content,
// never a mix; on failure the temporary file is removed and |path| is untouched.
[[nodiscard]] bool ReplaceFileDurably(const std::string& path, std::string_view bytes);

// Removes the temporary files that replacements of |path| left behind when their process was
// killed mid-way. Needs whatever lock serialises the replacements of |path|: a temporary file
// of a replacement under way would look the same.
void RemoveAbandonedReplacements(const std::string& path);

// Reads at most |limit| bytes of |path|. Nothing when it cannot be opened or read; no detail
// line is printed, since a missing file is an ordinary answer for the callers.
std::optional<std::string> ReadFilePrefix(const std::string& path, std::size_t limit);

// Opens |path| for appending, creating it when missing. Returns the descriptor or -1.
int OpenForAppend(const std::string& path);

// Appends |bytes| to |fd| with one write and makes it durable with fsync. A short write is
// reported as failure (|path| only names the file in the detail line).
[[nodiscard]] bool AppendDurably(int fd, std::string_view bytes, const std::string& path);

// Creates |path| empty or empties it.
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
