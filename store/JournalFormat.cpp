// SPDX-License-Identifier: Apache-2.0
#include "JournalFormat.h"

#include <algorithm>
#include <charconv>
#include <cstring>

std::uint64_t RecordChecksum(std::string_view bytes) {
  std::uint64_t hash = 14695981039346656037ULL;
  for (; bytes.size() >= 8; bytes.remove_prefix(8)) {
    std::uint64_t word = 0;
    std::memcpy(&word, bytes.data(), 8);
    hash = (hash ^ word) * 1099511628211ULL;
  }
  for (const char c : bytes) hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ULL;
  return hash ^ (hash >> 29);
}

bool TakeHeadNumber(std::string_view& text, std::uint64_t& out, int base) {
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out, base);
  if (ec != std::errc() || end == text.data() || end == text.data() + text.size()) return false;
  if (*end != ' ' && *end != '\n') return false;
  text.remove_prefix(static_cast<std::size_t>(end - text.data()) + 1);
  return true;
}

bool IsSoundChange(const Change& change, const BookRules& rules) {
  const auto card = [&](const std::string& line) {
    return line.empty() || rules.is_card_line(line);
  };
  if (!card(change.card_before) || !card(change.card_line)) return false;
  return std::all_of(change.appends.begin(), change.appends.end(), [&](const AppendAt& append) {
    return rules.is_appended_name(append.name) && !append.bytes.empty() &&
           append.bytes.back() == '\n';
  });
}
