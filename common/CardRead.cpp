// SPDX-License-Identifier: Apache-2.0
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <type_traits>

#include "Card.h"
#include "DataFiles.h"

namespace {

bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

// Hands out the whitespace-separated words of a text, one at a time.
struct Words {
  std::string_view rest;

  std::string_view Next() {
    while (!rest.empty() && IsSpace(rest.front())) rest.remove_prefix(1);
    std::size_t n = 0;
    while (n < rest.size() && !IsSpace(rest[n])) ++n;
    const std::string_view word = rest.substr(0, n);
    rest.remove_prefix(n);
    return word;
  }
};

// A whole decimal number that fits |T|: optional '-', digits, nothing else.
template <typename T>
bool TakeCardNumber(Words& words, T& out) {
  const std::string_view word = words.Next();
  if (word.empty()) return false;
  const auto [end, ec] = std::from_chars(word.data(), word.data() + word.size(), out);
  return ec == std::errc() && end == word.data() + word.size();
}

bool TakeCardLetter(Words& words, char& out) {
  const std::string_view word = words.Next();
  if (word.size() != 1) return false;
  out = word.front();
  return true;
}

}  // namespace

std::optional<Card> ParseCardLine(std::string_view text) {
  Words words{text};
  Card card;
  card.fee.direction = 'O';
  const bool ok = TakeCardNumber(words, card.cardId) && TakeCardLetter(words, card.vehicle) &&
                  TakeCardLetter(words, card.inOut) && TakeCardNumber(words, card.fee.baseFee) &&
                  TakeCardNumber(words, card.fee.additionalFee) &&
                  TakeCardNumber(words, card.fee.missedOffFee) && TakeCardNumber(words, card.termId) &&
                  TakeCardLetter(words, card.transfer) && TakeCardNumber(words, card.balance) &&
                  TakeCardNumber(words, card.prevFare) && TakeCardLetter(words, card.prevVehicle) &&
                  TakeCardNumber(words, card.tagTime);
  if (!ok) return std::nullopt;
  return card;
}

bool IsCardLine(std::string_view line) { return ParseCardLine(line).has_value(); }

std::optional<Card> ReadCardFile() {
  const auto text = ReadFilePrefix(DataPath(kCardFileName), kLongestCard);
  return text ? ParseCardLine(*text) : std::nullopt;
}

Card CardRead() {
  if (const auto card = ReadCardFile()) return *card;
  EndWithFileReadError();
}

void EndWithFileReadError() {
  std::printf("File Read Error.\n");
  std::fflush(stdout);
  std::exit(0);
}
