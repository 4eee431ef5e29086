// SPDX-License-Identifier: Apache-2.0
// The commit record of version 1.0.0, which the journal replaced: the sizes of the card line, the
// log's name and its line and the log's length, "%zu %zu %llu %zu\n"; the card line, the log's
// name and its line; and the checksum of all that as 16 hex digits and a line end.
#include <optional>

#include "Journal.h"

namespace {

constexpr std::uint64_t kLongestOldField = 4096;

// FNV-1a, 64 bits, byte by byte, as version 1.0.0 summed its commit record.
std::uint64_t OldCommitChecksum(std::string_view bytes) {
  std::uint64_t hash = 14695981039346656037ULL;
  for (const char c : bytes) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 1099511628211ULL;
  }
  return hash;
}

}  // namespace

std::optional<Change> ReadOldCommitRecord(std::string_view record, const BookRules& rules) {
  std::string_view rest = record;
  std::uint64_t card_size = 0, name_size = 0, log_length = 0, line_size = 0;
  if (!TakeHeadNumber(rest, card_size) || !TakeHeadNumber(rest, name_size) ||
      !TakeHeadNumber(rest, log_length) || !TakeHeadNumber(rest, line_size)) {
    return std::nullopt;
  }
  if (card_size > kLongestOldField || name_size > kLongestOldField ||
      line_size > kLongestOldField ||
      rest.size() != card_size + name_size + line_size + kRecordSumBytes) {
    return std::nullopt;
  }
  const std::string_view body = record.substr(0, record.size() - kRecordSumBytes);
  std::string_view sum_text = record.substr(record.size() - kRecordSumBytes);
  std::uint64_t sum = 0;
  if (!TakeHeadNumber(sum_text, sum, 16) || !sum_text.empty() || sum != OldCommitChecksum(body)) {
    return std::nullopt;
  }
  Change change;
  change.before_known = false;
  change.card_line = rest.substr(0, card_size);
  const std::string_view name = rest.substr(card_size, name_size);
  const std::string_view line = rest.substr(card_size + name_size, line_size);
  if (!name.empty() || !line.empty()) {
    change.appends.push_back({std::string(name), log_length, std::string(line)});
  }
  if (change.card_line.empty() || !IsSoundChange(change, rules)) return std::nullopt;
  return change;
}
