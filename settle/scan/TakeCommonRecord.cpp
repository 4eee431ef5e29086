// SPDX-License-Identifier: Apache-2.0
#include <bit>
#include <cstddef>
#include <cstring>

#include "ScanLog.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

// The 64 bytes at a record's start as masks, bit i standing for byte i.
struct Window {
  std::uint64_t blank = 0;     // bytes up to the space: blanks, or bytes no field may hold
  std::uint64_t plain = 0;     // spaces and line ends
  std::uint64_t line_end = 0;  // line ends
  std::uint64_t digit = 0;     // decimal digits
  std::uint64_t sign = 0;      // plus and minus signs
};

#if defined(__SSE2__)
std::uint64_t Bits(__m128i marks, int part) {
  return static_cast<std::uint64_t>(static_cast<unsigned>(_mm_movemask_epi8(marks)) & 0xFFFF)
         << (16 * part);
}

// Sixteen bytes a step, every byte tested at once, so no test waits for the field before it.
Window Classify(const char* at) {
  Window w;
  const __m128i space = _mm_set1_epi8(' ');
  const __m128i line_end = _mm_set1_epi8('\n');
  const __m128i zero = _mm_set1_epi8('0');
  const __m128i nine = _mm_set1_epi8(9);
  const __m128i plus = _mm_set1_epi8('+');
  const __m128i minus = _mm_set1_epi8('-');
  for (int part = 0; part < 4; ++part) {
    const __m128i bytes =
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(at + std::ptrdiff_t{16} * part));
    const __m128i is_line_end = _mm_cmpeq_epi8(bytes, line_end);
    const __m128i digit = _mm_sub_epi8(bytes, zero);
    w.blank |= Bits(_mm_cmpeq_epi8(_mm_min_epu8(bytes, space), bytes), part);
    w.plain |= Bits(_mm_or_si128(_mm_cmpeq_epi8(bytes, space), is_line_end), part);
    w.line_end |= Bits(is_line_end, part);
    w.digit |= Bits(_mm_cmpeq_epi8(_mm_min_epu8(digit, nine), digit), part);
    w.sign |= Bits(_mm_or_si128(_mm_cmpeq_epi8(bytes, plus), _mm_cmpeq_epi8(bytes, minus)), part);
  }
  return w;
}
#endif

// The value of the |count| (1 to 7) digits at |at|, which has eight bytes to read: the digits
// are moved to the top as if led by zeros, then paired, paired again and joined.
std::uint64_t ShortValue(const char* at, int count) {
  std::uint64_t v = 0;
  std::memcpy(&v, at, sizeof v);
  v = (v & 0x0F0F0F0F0F0F0F0F) << (8 * (8 - count));
  v = (v * 10 + (v >> 8)) & 0x00FF00FF00FF00FF;
  v = (v * 100 + (v >> 16)) & 0x0000FFFF0000FFFF;
  return (v * 10000 + (v >> 32)) & 0x00000000FFFFFFFF;
}

// One field of the record: bytes |first| to |last| of the window.
struct Field {
  int first = 0;
  int last = 0;
};

// A number field of one to |max_digits| digits after its sign, if any; its value when |out|
// is set, which needs no more than seven digits. The window has already shown that every byte
// of the field after its first is a digit.
template <typename Number>
[[gnu::always_inline]] inline bool FieldNumber(const char* at, const Window& w, Field f,
                                               int max_digits, Number* out) {
  const int sign = static_cast<int>((w.sign >> f.first) & 1);
  const int count = f.last - f.first + 1 - sign;
  if (count < 1 || count > max_digits) return false;
  if (out != nullptr) {
    const std::uint64_t magnitude = ShortValue(at + f.first + sign, count);
    *out = static_cast<Number>(at[f.first] == '-' ? 0 - magnitude : magnitude);
  }
  return true;
}

// The value of a number field that FieldNumber has accepted with at most seven digits.
[[gnu::always_inline]] inline std::int32_t Value(const char* at, const Window& w, Field f) {
  std::int32_t value = 0;
  FieldNumber(at, w, f, 7, &value);
  return value;
}

}  // namespace

namespace {

// One record of the common shape at |at|, which has 72 bytes to read: fills |e| (all of it only
// when the entry credits anything, see Credits), sets |lines| and returns where the next record
// may start; nullptr for any other shape.
const char* TakeCommonRecord(const char* at, FareEntry& e, std::size_t& lines) {
#if defined(__SSE2__)
  const Window w = Classify(at);
  std::uint64_t starts = ~w.blank & (w.blank << 1 | 1);
  std::uint64_t ends = ~w.blank & (w.blank >> 1 | std::uint64_t{1} << 63);
  // A window of fewer than eleven fields leaves the last ones at 64, past the window.
  Field fields[11];
#pragma GCC unroll 11
  for (Field& field : fields) {
    field = {std::countr_zero(starts), std::countr_zero(ends)};
    starts &= starts - 1;
    ends &= ends - 1;
  }
  const int last = fields[10].last;
  if (last >= 63) return nullptr;  // the record may go on past the window
  const std::uint64_t span = (std::uint64_t{2} << (last + 1)) - 1;  // with the blank after it
  if ((w.blank & ~w.plain & span) != 0) return nullptr;
  // Every byte of a field is a digit, but for the letters and a sign at the start of a number.
  const std::uint64_t letters = std::uint64_t{1} << fields[5].first |
                                std::uint64_t{1} << fields[7].first |
                                std::uint64_t{1} << fields[8].first;
  const std::uint64_t starts_of_numbers = (~w.blank & (w.blank << 1 | 1) & span) & ~letters;
  if ((~w.digit & ~w.blank & span) != (letters | (w.sign & starts_of_numbers))) return nullptr;
  std::int32_t* const none32 = nullptr;
  std::int64_t* const none64 = nullptr;
  const auto letter = [&](Field f, char* out) {
    if (f.first != f.last) return false;
    if (out != nullptr) *out = at[f.first];
    return true;
  };
  // Seven digits fit every kept field; a field checked only may have one digit fewer than the
  // largest value of its type, so that its digit count is its range check. Counts break only
  // in fields longer than seven bytes before the times, or longer than 18 bytes in them, or in a
  // number that is a sign alone; a few tests of the whole record spare the eleven.
  std::uint64_t run8 = ~w.blank;  // bit i: bytes i to i + 7 are not blank
  for (int shift = 1; shift < 8; shift *= 2) run8 &= run8 >> shift;
  const std::uint64_t run16 = run8 & run8 >> 8;
  const std::uint64_t run19 = run16 & run16 >> 3;
  const std::uint64_t before_times = (std::uint64_t{2} << fields[6].last) - 1;
  const bool short_fields = (run8 & before_times) == 0 && (run19 & span) == 0 &&
                            (w.sign & w.blank >> 1 & span & ~letters) == 0;
  const bool whole =
      (short_fields ||
       (FieldNumber(at, w, fields[0], 7, none32) && FieldNumber(at, w, fields[1], 9, none32) &&
        FieldNumber(at, w, fields[2], 7, none32) && FieldNumber(at, w, fields[3], 7, none32) &&
        FieldNumber(at, w, fields[4], 9, none32) && FieldNumber(at, w, fields[6], 7, none32) &&
        FieldNumber(at, w, fields[9], 18, none64) && FieldNumber(at, w, fields[10], 18, none64))) &&
      letter(fields[5], &e.transfer) && letter(fields[7], nullptr) && letter(fields[8], &e.inOut);
  if (!whole) return nullptr;
  // The values are worked out only for an entry that is kept; a missedOffFee of "0" and a
  // termId of four digits need none.
  const bool no_surcharge = fields[2].first == fields[2].last && at[fields[2].first] == '0';
  e.surcharge = no_surcharge ? Surcharge::kNone : SurchargeOf(Value(at, w, fields[2]));
  if (Credits(e)) {
    e.additionalFee = Value(at, w, fields[3]);
    e.prevFare = Value(at, w, fields[6]);
    e.atBusStation = fields[0].last - fields[0].first == 3
                         ? std::memcmp(at + fields[0].first, "6666", 4) == 0
                         : Value(at, w, fields[0]) == kBusTermId;
  }
  lines = 0;  // nearly always the one that ends the record
  for (std::uint64_t ends_of_lines = w.line_end & span; ends_of_lines != 0;
       ends_of_lines &= ends_of_lines - 1) {
    ++lines;
  }
  return at + last + 2;
#else
  (void)at;
  (void)e;
  (void)lines;
  return nullptr;
#endif
}

}  // namespace

const char* TakeCommonRecords(const char* at, const char* end, EntryBlock& block,
                              std::size_t& lines) {
  std::size_t record_lines = 0;
  FareEntry entry;
  // A record ends with the blank after it, so the next one starts right there, or after more
  // blanks, which the general reading skips.
  while (end - at >= 72) {
    const char* const after = TakeCommonRecord(at, entry, record_lines);
    if (after == nullptr) break;
    if (Credits(entry)) block.push_back(entry);
    lines += record_lines;
    at = after;
    if (*at <= ' ') break;
  }
  return at;
}
