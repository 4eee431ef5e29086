// SPDX-License-Identifier: Apache-2.0
#include "ScanLog.h"

#include <bit>
#include <cstdint>
#include <cstring>
#include <limits>

namespace {

// The text being scanned, whether it is the end of the log, the line ends passed within the
// record under way, and whether a take failed only because the text ended: every byte of the
// record so far may still begin a whole, valid record.
struct Text {
  const char* end;
  bool is_last;
  std::size_t lines;
  bool cut = false;
};

// Blank as the log's stream format counts it. Fields are digits and letters, all above the
// space, so one comparison settles the common case.
bool IsBlank(char c) {
  return static_cast<unsigned char>(c) <= ' ' && (c == ' ' || (c >= '\t' && c <= '\r'));
}

bool IsDigit(char c) { return static_cast<unsigned char>(c - '0') < 10; }

[[gnu::always_inline]] inline const char* SkipBlanks(const char* at, Text& text) {
  while (at != text.end && IsBlank(*at)) {
    text.lines += *at == '\n';
    ++at;
  }
  return at;
}

// Whether a field that stops at |stop| is whole: followed by a blank or by the end of the log.
// A field that runs into the end of a piece may go on in the next one.
bool EndsField(const char* stop, const Text& text) {
  return stop == text.end ? text.is_last : IsBlank(*stop);
}

// Where to look for the next field after a whole field that stops at |stop|: past the blank
// that ended it, which need not be tested again.
[[gnu::always_inline]] inline const char* PastField(const char* stop, Text& text) {
  if (stop == text.end) return stop;
  text.lines += *stop == '\n';
  return stop + 1;
}

std::uint64_t Load8(const char* at) {
  std::uint64_t bytes = 0;
  std::memcpy(&bytes, at, sizeof bytes);
  return bytes;
}

// A mask of the bytes of |bytes| that are not decimal digits: a byte is a digit when its high
// half is 3 and adding 6 keeps it so. A carry out of a byte can only disturb the bytes after
// it, and it comes only from a byte that is not a digit, so the first byte that is not a digit
// is always found; on a little-endian machine it is the lowest marked byte.
std::uint64_t NotDigits(std::uint64_t bytes) {
  constexpr std::uint64_t kHighHalves = 0xF0F0F0F0F0F0F0F0;
  constexpr std::uint64_t kThrees = 0x3030303030303030;
  constexpr std::uint64_t kSixes = 0x0606060606060606;
  return ((bytes & kHighHalves) ^ kThrees) | (((bytes + kSixes) & kHighHalves) ^ kThrees);
}

// The end of the run of decimal digits that starts at |at|, eight bytes at a time while eight
// remain.
const char* DigitsEnd(const char* at, const char* end) {
  if constexpr (std::endian::native == std::endian::little) {
    for (; end - at >= 8; at += 8) {
      const std::uint64_t not_digits = NotDigits(Load8(at));
      if (not_digits != 0) return at + std::countr_zero(not_digits) / 8;
    }
  }
  while (at != end && IsDigit(*at)) ++at;
  return at;
}

// The value of the decimal digits in [from, to); at most 19 of them, so it cannot wrap.
std::uint64_t DigitsValue(const char* from, const char* to) {
  std::uint64_t value = 0;
  for (; from != to; ++from) value = value * 10 + static_cast<unsigned char>(*from - '0');
  return value;
}

// Whether the digits [digits, end) with the sign |negative| are a value of Number, kept in
// |out| when it is set. The value is worked out only when it is kept or has as many digits as
// the largest value of its type: the range check of any shorter one is the count of its digits.
// Leading zeros count only then, since a number may have any amount of them.
template <typename Number>
bool InRange(bool negative, const char* digits, const char* end, Number* out) {
  constexpr auto kMax = static_cast<std::uint64_t>(std::numeric_limits<Number>::max());
  constexpr int kMaxDigits = std::numeric_limits<Number>::digits10 + 1;
  if (end - digits >= kMaxDigits) {
    while (*digits == '0' && end - digits > 1) ++digits;
    if (end - digits > kMaxDigits) return false;
  }
  if (out != nullptr || end - digits == kMaxDigits) {
    const std::uint64_t magnitude = DigitsValue(digits, end);
    if (magnitude > kMax + (negative ? 1 : 0)) return false;
    // Negated in unsigned arithmetic, so the lowest value needs no special case.
    if (out != nullptr) *out = static_cast<Number>(negative ? 0 - magnitude : magnitude);
  }
  return true;
}

// Reads the number field that starts at |at|, past its blanks; like the Take functions below.
// A field that runs into the end of a piece is cut, not damaged, while its digits so far are
// still in range: the next piece may complete it.
template <typename Number>
const char* TakeAnyNumber(const char* at, Text& text, Number* out) {
  const bool negative = at != text.end && *at == '-';
  if (at != text.end && (*at == '-' || *at == '+')) ++at;
  const char* significant = at;
  at = DigitsEnd(at, text.end);
  if (at == text.end && !text.is_last) {
    text.cut = InRange<Number>(negative, significant, at, nullptr);
    return nullptr;
  }
  if (at == significant || !EndsField(at, text)) return nullptr;
  if (!InRange(negative, significant, at, out)) return nullptr;
  return PastField(at, text);
}

// Each Take function parses the field after |at| and returns where to look for the next one,
// or nullptr when it is not whole and valid; a nullptr |at| passes straight through, so a record
// reads as a plain sequence of takes. A nullptr |out| checks the field without keeping it.
template <typename Number>
const char* TakeLogNumber(const char* at, Text& text, Number* out) {
  if (at == nullptr) return nullptr;
  return TakeAnyNumber(SkipBlanks(at, text), text, out);
}

const char* TakeLetter(const char* at, Text& text, char* out) {
  if (at == nullptr) return nullptr;
  at = SkipBlanks(at, text);
  if (!text.is_last && (at == text.end || at + 1 == text.end)) {
    text.cut = true;
    return nullptr;
  }
  if (at == text.end || !EndsField(at + 1, text)) return nullptr;
  if (out != nullptr) *out = *at;
  return PastField(at + 1, text);
}

// baseFee, cardId, prevVehicle, tagTime and the date digits are checked but not kept: the
// allocation never reads them.
const char* TakeLogRecord(const char* at, Text& text, FareEntry& e) {
  std::int32_t term_id = 0;
  std::int32_t missed_off_fee = 0;
  at = TakeLogNumber(at, text, &term_id);
  at = TakeLogNumber<std::int32_t>(at, text, nullptr);
  at = TakeLogNumber(at, text, &missed_off_fee);
  at = TakeLogNumber(at, text, &e.additionalFee);
  at = TakeLogNumber<std::int32_t>(at, text, nullptr);
  at = TakeLetter(at, text, &e.transfer);
  at = TakeLogNumber(at, text, &e.prevFare);
  at = TakeLetter(at, text, nullptr);
  at = TakeLetter(at, text, &e.inOut);
  at = TakeLogNumber<std::int64_t>(at, text, nullptr);
  e.surcharge = SurchargeOf(missed_off_fee);
  e.atBusStation = term_id == kBusTermId;
  return TakeLogNumber<std::int64_t>(at, text, nullptr);
}

}  // namespace

ScanResult ScanLog(std::string_view text, bool is_last, EntryBlock& block) {
  Text whole{text.data() + text.size(), is_last, 0};
  const char* at = text.data();
  std::size_t lines = 0;
  while (true) {
    whole.lines = 0;
    at = SkipBlanks(at, whole);
    lines += whole.lines;
    const auto consumed = static_cast<std::size_t>(at - text.data());
    if (at == whole.end) {
      return {consumed, lines, is_last ? ScanStop::kEndOfLog : ScanStop::kNeedMore};
    }
    if (const char* after = TakeCommonRecords(at, whole.end, block, lines); after != at) {
      at = after;
      continue;
    }
    whole.lines = 0;
    whole.cut = false;
    FareEntry entry;
    const char* after = TakeLogRecord(at, whole, entry);
    if (after == nullptr)
      return {consumed, lines, whole.cut ? ScanStop::kNeedMore : ScanStop::kDamaged};
    if (Credits(entry)) block.push_back(entry);
    lines += whole.lines;
    at = after;
  }
}
