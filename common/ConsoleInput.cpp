// SPDX-License-Identifier: Apache-2.0
#include "ConsoleInput.h"

#include <cctype>
#include <charconv>

namespace {

// Longer than any 32-bit number with sign; longer words are not numbers.
constexpr int kMaxWord = 16;

}  // namespace

InputNumber ReadNumber(std::FILE* in) {
  int c = std::getc(in);
  while (c != EOF && std::isspace(c)) c = std::getc(in);
  if (c == EOF) return {InputKind::kEnd, 0};

  char word[kMaxWord];
  int length = 0;
  bool too_long = false;
  for (; c != EOF && !std::isspace(c); c = std::getc(in)) {
    if (length < kMaxWord) {
      word[length++] = static_cast<char>(c);
    } else {
      too_long = true;
    }
  }
  if (c != EOF) std::ungetc(c, in);

  std::int32_t value = 0;
  const char* begin = word;
  const char* end = word + length;
  // "%d" takes an explicit plus sign; from_chars does not.
  if (length > 1 && word[0] == '+' && word[1] != '-') ++begin;
  const auto [stop, ec] = std::from_chars(begin, end, value);
  if (too_long || ec != std::errc() || stop != end) return {InputKind::kNotNumber, 0};
  return {InputKind::kNumber, value};
}

void DiscardLine(std::FILE* in) {
  int c = std::getc(in);
  while (c != EOF && c != '\n') c = std::getc(in);
}
