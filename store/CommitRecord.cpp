// SPDX-License-Identifier: Apache-2.0
#include <charconv>
#include <cinttypes>
#include <cstdio>

#include "Journal.h"

namespace {

// A card line and a log line are a few dozen bytes each; a longer field is damage.
constexpr std::uint64_t kLongestField = 4096;
constexpr std::size_t kSumBytes = 17;  // 16 hex digits and a line end

// FNV-1a, 64 bits, byte by byte, as version 1.0.0 summed its commit record.
std::uint64_t ByteChecksum(std::string_view bytes) {
  std::uint64_t hash = 14695981039346656037ULL;
  for (const char c : bytes) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 1099511628211ULL;
  }
  return hash;
}

}  // namespace

bool TakeHeadNumber(std::string_view& text, std::uint64_t& out, int base) {
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out, base);
  if (ec != std::errc() || end == text.data() || end == text.data() + text.size()) return false;
  if (*end != ' ' && *end != '\n') return false;
  text.remove_prefix(static_cast<std::size_t>(end - text.data()) + 1);
  return true;
}

// Layout: "<card bytes> <log name bytes> <log length> <line bytes>\n", the card line, the log
// name, the log line, then the checksum of all that as 16 hex digits and a line end.
std::string FormatCommitRecord(const Change& change) {
  const AppendAt log = change.appends.empty() ? AppendAt{} : change.appends[0];
  char sizes[96];
  const int n = std::snprintf(sizes, sizeof sizes, "%zu %zu %" PRIu64 " %zu\n",
                              change.card_line.size(), log.name.size(), log.at, log.bytes.size());
  std::string body(sizes, static_cast<std::size_t>(n));
  body.append(change.card_line).append(log.name).append(log.bytes);
  char sum[24];
  std::snprintf(sum, sizeof sum, "%016" PRIx64 "\n", ByteChecksum(body));
  return body + sum;
}

std::optional<Change> ParseCommitRecord(std::string_view record, const BookRules& rules) {
  std::string_view rest = record;
  std::uint64_t card_size = 0, name_size = 0, log_length = 0, line_size = 0;
  if (!TakeHeadNumber(rest, card_size) || !TakeHeadNumber(rest, name_size) ||
      !TakeHeadNumber(rest, log_length) || !TakeHeadNumber(rest, line_size)) {
    return std::nullopt;
  }
  if (card_size > kLongestField || name_size > kLongestField || line_size > kLongestField ||
      rest.size() != card_size + name_size + line_size + kSumBytes) {
    return std::nullopt;
  }
  const std::string_view body = record.substr(0, record.size() - kSumBytes);
  std::string_view sum_text = record.substr(record.size() - kSumBytes);
  std::uint64_t sum = 0;
  if (!TakeHeadNumber(sum_text, sum, 16) || !sum_text.empty() || sum != ByteChecksum(body)) {
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
