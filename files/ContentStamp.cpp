// SPDX-License-Identifier: Apache-2.0
#include <sys/stat.h>

#include <algorithm>
#include <cinttypes>
#include <cstdio>

#include "DataFiles.h"

// The inode tells the file; the bytes at both ends tell its content apart from another's that
// took the inode of one since removed: a log's lines carry the times of their tags.
std::optional<std::string> ContentStamp(int fd, std::uint64_t length) {
  constexpr std::uint64_t kEnd = 64;
  struct stat file {};
  if (fstat(fd, &file) != 0 || static_cast<std::uint64_t>(file.st_size) < length) {
    return std::nullopt;
  }
  const std::uint64_t end = std::min(kEnd, length);
  const auto first = ReadFrom(fd, end, 0);
  const auto last = ReadFrom(fd, end, length - end);
  if (!first || !last || last->size() != end) return std::nullopt;
  std::uint64_t sum = 14695981039346656037ULL;  // FNV-1a
  for (const char c : *first + *last)
    sum = (sum ^ static_cast<unsigned char>(c)) * 1099511628211ULL;
  char stamp[80];
  std::snprintf(stamp, sizeof stamp, "%" PRIu64 " %" PRIu64 " %016" PRIx64,
                static_cast<std::uint64_t>(file.st_ino), length, sum);
  return stamp;
}
