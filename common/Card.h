// SPDX-License-Identifier: Apache-2.0
// The card record, the per-tag fee record, and the card file they live in between tags.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "Books.h"

// The charge of one tag. The charge is baseFee + missedOffFee + additionalFee.
struct Fee {
  std::int32_t baseFee = 0;
  std::int32_t missedOffFee = 0;
  std::int32_t additionalFee = 0;  // -1 in a get-off fee not yet worked out
  char direction = 'O';            // 'I' get on, 'O' get off; not stored in the card file
};

// Everything known about the single card.
struct Card {
  std::int32_t cardId = 0;
  std::int64_t tagTime = 0;  // seconds since the epoch of the last accepted tag
  char vehicle = 'S';        // 'B' bus station, 'S' subway station
  char inOut = 'O';          // 'I' got on, 'O' got off
  Fee fee;                   // fee of the last accepted tag
  std::int32_t termId = 1111;
  char transfer = 'F';  // 'T' the current ride is a free transfer ride
  std::int32_t balance = 0;
  std::int32_t prevFare = 0;
  char prevVehicle = 'S';
};

// The card file, relative to the working directory like every data file.
inline constexpr std::string_view kCardFileName = "usercard.txt";

// Formats |card| as the card file line: twelve values and the date digits of tagTime in local
// time, one space apart, no line end. The fee amounts stand as base, additional, missed-off.
std::string FormatCardLine(const Card& card);

// Parses a card file line. Needs twelve whitespace-separated values, each whole and in range
// (numbers fit their field, characters are one character); whatever follows is ignored.
// Returns nothing for anything else; fee.direction of the result is 'O'.
std::optional<Card> ParseCardLine(std::string_view text);

// Whether |line| parses as a card line (ParseCardLine).
bool IsCardLine(std::string_view line);

// Reads the card file. Nothing when it is missing, unreadable or damaged.
std::optional<Card> ReadCardFile();

// Reads the card file. When it is missing, unreadable or damaged, prints "File Read Error."
// and ends the process with status 0.
Card CardRead();

// Prints "File Read Error." and ends the process with status 0.
[[noreturn]] void EndWithFileReadError();

// Writes |card| to the card file and, in the same card commit, appends |log| when it names a
// log: both reach the disk or neither does, whatever stops the process. Needs |books| held.
// On failure prints a one-line detail on standard error and returns false, card and log as
// they were.
[[nodiscard]] bool CardWriter(HeldBooks& books, Card card, BookAppend log = {});
