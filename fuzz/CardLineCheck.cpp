// SPDX-License-Identifier: Apache-2.0
#include <cstdint>
#include <limits>

#include "ReaderChecks.h"
#include "Reference.h"

namespace {

constexpr std::int64_t kMin32 = std::numeric_limits<std::int32_t>::min();
constexpr std::int64_t kMax32 = std::numeric_limits<std::int32_t>::max();

// Every field, characters as their codes, so a NUL or a high byte still shows.
std::string Show(const Card& card) {
  const auto code = [](char c) { return std::to_string(static_cast<unsigned char>(c)); };
  return std::to_string(card.cardId) + " " + code(card.vehicle) + " " + code(card.inOut) + " " +
         std::to_string(card.fee.baseFee) + " " + std::to_string(card.fee.additionalFee) + " " +
         std::to_string(card.fee.missedOffFee) + " " + code(card.fee.direction) + " " +
         std::to_string(card.termId) + " " + code(card.transfer) + " " +
         std::to_string(card.balance) + " " + std::to_string(card.prevFare) + " " +
         code(card.prevVehicle) + " " + std::to_string(card.tagTime);
}

bool Number32(const Word& word, std::int32_t& out) {
  const auto value = Decimal(word.text, Signs::kMinusOnly, kMin32, kMax32);
  if (value) out = static_cast<std::int32_t>(*value);
  return value.has_value();
}

bool Letter(const Word& word, char& out) {
  if (word.text.size() != 1) return false;
  out = word.text[0];
  return true;
}

// The card line as the file format lays it out: positions 1 to 12, the rest ignored.
std::optional<Card> ReferenceCard(std::string_view text) {
  const std::vector<Word> w = SplitWords(text);
  if (w.size() < 12) return std::nullopt;
  Card card;
  card.fee.direction = 'O';
  const auto time = Decimal(w[11].text, Signs::kMinusOnly, std::numeric_limits<std::int64_t>::min(),
                            std::numeric_limits<std::int64_t>::max());
  if (!time) return std::nullopt;
  card.tagTime = *time;
  const bool ok = Number32(w[0], card.cardId) && Letter(w[1], card.vehicle) &&
                  Letter(w[2], card.inOut) && Number32(w[3], card.fee.baseFee) &&
                  Number32(w[4], card.fee.additionalFee) && Number32(w[5], card.fee.missedOffFee) &&
                  Number32(w[6], card.termId) && Letter(w[7], card.transfer) &&
                  Number32(w[8], card.balance) && Number32(w[9], card.prevFare) &&
                  Letter(w[10], card.prevVehicle);
  if (!ok) return std::nullopt;
  return card;
}

// The writer's promise: thirteen values one space apart, nothing before or after.
bool IsOneSpaceApart(const std::string& line, std::size_t count) {
  const std::vector<Word> words = SplitWords(line);
  std::string joined;
  for (const Word& word : words) {
    if (!joined.empty()) joined += ' ';
    joined += word.text;
  }
  return words.size() == count && joined == line;
}

}  // namespace

std::string CheckCardLine(std::string_view bytes, CardParser parse) {
  const std::optional<Card> got = parse(bytes);
  const std::optional<Card> want = ReferenceCard(bytes);
  if (got.has_value() != want.has_value()) {
    return got ? "accepted a line the reference refuses: " + Show(*got)
               : "refused a line the reference reads as " + Show(*want);
  }
  if (!got) return {};
  if (Show(*got) != Show(*want)) {
    return "read " + Show(*got) + " where the reference reads " + Show(*want);
  }
  const std::string line = FormatCardLine(*got);
  if (!IsOneSpaceApart(line, 13)) return "formatted as \"" + line + "\", not 13 values";
  const std::optional<Card> again = parse(line);
  if (!again || Show(*again) != Show(*got)) {
    return "formatted as \"" + line + "\", which reads back as " +
           (again ? Show(*again) : std::string("nothing")) + " instead of " + Show(*got);
  }
  return {};
}
