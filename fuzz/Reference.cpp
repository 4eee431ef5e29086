// SPDX-License-Identifier: Apache-2.0
#include "Reference.h"

#include <limits>

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

std::vector<Word> SplitWords(std::string_view text) {
  std::vector<Word> words;
  std::size_t i = 0;
  while (i < text.size()) {
    if (IsBlank(text[i])) {
      ++i;
      continue;
    }
    const std::size_t start = i;
    while (i < text.size() && !IsBlank(text[i])) ++i;
    words.push_back({text.substr(start, i - start), start});
  }
  return words;
}

std::optional<std::int64_t> Decimal(std::string_view word, Signs signs, std::int64_t min,
                                    std::int64_t max) {
  bool negative = false;
  if (!word.empty() && (word[0] == '-' || (word[0] == '+' && signs == Signs::kPlusOrMinus))) {
    negative = word[0] == '-';
    word.remove_prefix(1);
  }
  if (word.empty()) return std::nullopt;
  // The magnitude, refused before it passes 2^63, the largest any 64-bit value needs.
  constexpr std::uint64_t kLimit = std::uint64_t{1} << 63;
  std::uint64_t magnitude = 0;
  for (const char c : word) {
    if (c < '0' || c > '9') return std::nullopt;
    const auto digit = static_cast<std::uint64_t>(c - '0');
    if (magnitude > (kLimit - digit) / 10) return std::nullopt;
    magnitude = magnitude * 10 + digit;
  }
  std::int64_t value = 0;
  if (!negative) {
    if (magnitude >= kLimit) return std::nullopt;
    value = static_cast<std::int64_t>(magnitude);
  } else if (magnitude == kLimit) {
    value = std::numeric_limits<std::int64_t>::min();
  } else {
    value = -static_cast<std::int64_t>(magnitude);
  }
  if (value < min || value > max) return std::nullopt;
  return value;
}
