// SPDX-License-Identifier: Apache-2.0
// Runs one tag of the terminal in this process, at a chosen terminal and time, against a card
// file in a DataDir, and collects what it printed and left behind.
#pragma once

#include <cstdint>
#include <string>

#include "Card.h"
#include "DataDir.h"

// The time every test card was last tagged at: 2014-06-05 09:07:00 UTC.
inline constexpr std::int64_t kCardTime = 1401959220;

struct TagResult {
  std::string out;   // standard output of the tag
  std::string card;  // card file afterwards
  std::string log;   // the terminal's log afterwards ("<missing>" if none)
};

// A card whose fields the tests set row by row; the rest stays at recognisable values.
Card TestCard(char in_out, char vehicle, char transfer, std::int32_t term_id,
              std::int32_t balance = 10000);

// Writes |card|, then tags at terminal |here| (1 = get on, 2 = get off) |seconds| after the
// card's tagTime.
TagResult Tag(const DataDir& dir, const Card& card, std::int32_t here, std::int64_t seconds,
              int choice);
// The same at the absolute time |now|.
TagResult TagAt(const DataDir& dir, const Card& card, std::int32_t here, std::int64_t now,
                int choice);

// The result block of an accepted or a refused tag, byte for byte.
std::string ChargedBlock(std::int32_t fee, std::int32_t balance_after);
std::string RefusedBlock(std::int32_t fee, std::int32_t balance);
