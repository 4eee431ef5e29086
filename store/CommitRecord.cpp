// SPDX-License-Identifier: Apache-2.0
#include <charconv>
#include <cinttypes>
#include <cstdio>

#include "Journal.h"

namespace {

// A card line and a log line are a few dozen bytes each; a longer field is damage.
constexpr std::uint64_t kLongestField = 4096;

// FNV-1a, 64 bits: enough to tell a whole record from a torn or overwritten one.
std::uint64_t Checksum(std::string_view bytes) {
  std::uint64_t hash = 14695981039346656037ULL;
  for (const char c : bytes) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 1099511628211ULL;
  }
  return hash;
}

}  // namespace

bool TakeNumber(std::string_view& text, std::uint64_t& out, int base) {
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out, base);
  if (ec != std::errc() || end == text.data() || end == text.data() + text.size()) return false;
  if (*end != ' ' && *end != '\n') return false;
  text.remove_prefix(static_cast<std::size_t>(end - text.data()) + 1);
  return true;
}

bool IsSoundLog(const CardCommit& commit, const BookRules& rules) {
  const std::string_view line = commit.log.line;
  if (commit.log.name.empty()) return line.empty();
  return rules.is_log_name(commit.log.name) && !line.empty() && line.find('\n') == line.size() - 1;
}

// Layout: "<card bytes> <log name bytes> <log length> <line bytes>\n", the card line, the log
// name, the log line, then the checksum of all that as 16 hex digits and a line end.
std::string CommitBody(std::string_view head, const CardCommit& commit) {
  char sizes[96];
  const int n =
      std::snprintf(sizes, sizeof sizes, "%zu %zu %" PRIu64 " %zu\n", commit.card_line.size(),
                    commit.log.name.size(), commit.log_length, commit.log.line.size());
  std::string body(head);
  body.append(sizes, static_cast<std::size_t>(n));
  body += commit.card_line;
  body += commit.log.name;
  body += commit.log.line;
  return body;
}

std::string FormatCommitRecord(const CardCommit& commit) {
  const std::string body = CommitBody("", commit);
  char sum[24];
  std::snprintf(sum, sizeof sum, "%016" PRIx64 "\n", Checksum(body));
  return body + sum;
}

std::optional<CardCommit> ParseCommitRecord(std::string_view record, const BookRules& rules) {
  std::string_view rest = record;
  std::uint64_t card_size = 0, name_size = 0, line_size = 0;
  CardCommit commit;
  if (!TakeNumber(rest, card_size) || !TakeNumber(rest, name_size) ||
      !TakeNumber(rest, commit.log_length) || !TakeNumber(rest, line_size)) {
    return std::nullopt;
  }
  if (card_size > kLongestField || name_size > kLongestField || line_size > kLongestField ||
      rest.size() != card_size + name_size + line_size + 17) {
    return std::nullopt;
  }
  const std::string_view body = record.substr(0, record.size() - 17);
  std::string_view sum_text = record.substr(record.size() - 17);
  std::uint64_t sum = 0;
  if (!TakeNumber(sum_text, sum, 16) || !sum_text.empty() || sum != Checksum(body)) {
    return std::nullopt;
  }
  commit.card_line = rest.substr(0, card_size);
  commit.log.name = rest.substr(card_size, name_size);
  commit.log.line = rest.substr(card_size + name_size, line_size);
  if (!rules.is_card_line(commit.card_line) || !IsSoundLog(commit, rules)) return std::nullopt;
  return commit;
}
