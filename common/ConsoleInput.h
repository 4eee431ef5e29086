// SPDX-License-Identifier: Apache-2.0
// Reading numbers typed at the console. Answers are read word by word, as "%d" would reach
// them, so two answers on one line still work; but a word is taken only when all of it is a
// decimal number that fits 32 bits, so "12abc" or a number beyond the range is never guessed at.
#pragma once

#include <cstdint>
#include <cstdio>

enum class InputKind { kNumber, kNotNumber, kEnd };

struct InputNumber {
  InputKind kind = InputKind::kEnd;
  std::int32_t value = 0;  // meaningful for kNumber only
};

// Reads the next whitespace-separated word of |in|. kEnd when the input ends (or fails) before
// a word starts. The character that ends the word is left unread, so the caller can still
// discard the rest of that line. Memory use is bounded whatever the length of the word.
InputNumber ReadNumber(std::FILE* in);

// Discards everything up to and including the next line end (or the end of input).
void DiscardLine(std::FILE* in);
