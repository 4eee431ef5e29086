// SPDX-License-Identifier: Apache-2.0
#include <fcntl.h>

#include <cstdlib>

#include "BookFiles.h"
#include "DataFiles.h"

std::uint64_t SettledBytes(const std::string& path) {
  const auto settlements = ReadFilePrefix(DataPath(kSettlementsName), kLongestSettlements);
  if (!settlements) return 0;
  // Only the last settlement of the log counts: each one marks every log that was not empty.
  const std::string key = "\n" + path.substr(path.rfind('/') + 1) + " ";
  const std::string text = "\n" + *settlements;
  const std::size_t at = text.rfind(key);
  if (at == std::string::npos) return 0;
  const std::size_t from = at + key.size();
  const std::string stamp = text.substr(from, text.find('\n', from) - from);
  const std::size_t blank = stamp.find(' ');
  const std::uint64_t bytes = std::strtoull(stamp.c_str() + blank + 1, nullptr, 10);
  const int fd = OpenDataFile(path, O_RDONLY | O_NOCTTY | O_NONBLOCK);
  const auto now = fd >= 0 ? ContentStamp(fd, bytes) : std::nullopt;
  CloseFile(fd);
  return blank != std::string::npos && now == stamp ? bytes : 0;
}
