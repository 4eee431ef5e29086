// SPDX-License-Identifier: Apache-2.0
#include <algorithm>
#include <cstdint>
#include <limits>

#include "ReaderChecks.h"
#include "Reference.h"

namespace {

// "-2147483648": no 32-bit number needs more characters unless it has leading zeros.
constexpr std::size_t kLongestNumber = 11;

std::string Quote(std::string_view text) { return "\"" + std::string(text) + "\""; }

bool AllBlank(std::string_view text) {
  for (const char c : text) {
    if (!IsBlank(c)) return false;
  }
  return true;
}

// Judges the value of an answer that covers the whole word |word|.
std::string CheckValue(std::string_view word, InputNumber answer) {
  const auto value = Decimal(word, Signs::kPlusOrMinus, std::numeric_limits<std::int32_t>::min(),
                             std::numeric_limits<std::int32_t>::max());
  if (answer.kind == InputKind::kNumber && (!value || *value != answer.value)) {
    return "read " + Quote(word) + " as the number " + std::to_string(answer.value);
  }
  if (answer.kind == InputKind::kNotNumber && value && word.size() <= kLongestNumber) {
    return "refused the number " + Quote(word);
  }
  return {};
}

// Judges one answer, read from |bytes| between offsets |before| and |after|.
std::string CheckAnswer(std::string_view bytes, long before, long after, InputNumber answer) {
  if (before < 0 || after < before || after > static_cast<long>(bytes.size())) {
    return "moved from offset " + std::to_string(before) + " to " + std::to_string(after);
  }
  const auto from = static_cast<std::size_t>(before);
  const auto to = static_cast<std::size_t>(after);
  if (answer.kind == InputKind::kEnd) {
    if (AllBlank(bytes.substr(from))) return {};
    return "ended where " + Quote(bytes.substr(from)) + " is left";
  }
  std::string_view word = bytes.substr(from, to - from);
  while (!word.empty() && IsBlank(word.front())) word.remove_prefix(1);
  if (word.empty() || std::any_of(word.begin(), word.end(), IsBlank)) {
    return "answered from " + Quote(bytes.substr(from, to - from)) + ", not one word";
  }
  if (to < bytes.size() && !IsBlank(bytes[to])) {
    return "stopped inside the word " + Quote(word) + Quote(bytes.substr(to, 1));
  }
  return CheckValue(word, answer);
}

// After the rest of a line is discarded, the next read starts right after its line end.
std::string CheckDiscard(std::string_view bytes, long from, long after) {
  const std::size_t line_end = bytes.find('\n', static_cast<std::size_t>(from));
  const auto expected =
      static_cast<long>(line_end == std::string_view::npos ? bytes.size() : line_end + 1);
  if (after != expected) {
    return "discarded up to offset " + std::to_string(after) + " instead of " +
           std::to_string(expected);
  }
  return {};
}

}  // namespace

std::string CheckMenuInput(std::string_view bytes, NumberReader read) {
  std::string buffer(bytes);
  std::FILE* in = fmemopen(buffer.data(), buffer.size(), "r");
  if (in == nullptr) return "the memory stream could not be opened";
  std::string problem;
  // Every answer but the end takes at least one byte, so this bounds a reader that stalls.
  for (std::size_t answers = 0; problem.empty(); ++answers) {
    if (answers > bytes.size()) {
      problem = "gave more answers than there are bytes";
      break;
    }
    const long before = std::ftell(in);
    const InputNumber answer = read(in);
    const long after = std::ftell(in);
    problem = CheckAnswer(bytes, before, after, answer);
    if (!problem.empty() || answer.kind == InputKind::kEnd) break;
    if (answer.kind == InputKind::kNotNumber) {
      DiscardLine(in);
      problem = CheckDiscard(bytes, after, std::ftell(in));
    }
  }
  std::fclose(in);
  return problem;
}
