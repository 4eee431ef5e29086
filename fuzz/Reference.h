// SPDX-License-Identifier: Apache-2.0
// A second, deliberately plain reading of the text formats, written without any of the readers'
// code: the fuzzers compare every reader's answer with it, so a wrong result shows up as well as
// a crash.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

// White space between values in every format: blank, tab, line end, vertical tab, form feed,
// carriage return.
bool IsBlank(char c);

// One run of non-blank bytes and the offset where it starts.
struct Word {
  std::string_view text;
  std::size_t offset = 0;
};

// Every word of |text|, in order.
std::vector<Word> SplitWords(std::string_view text);

// Which signs a number may carry: the card file is written without a plus sign, while the logs
// and the console take one as "%d" does.
enum class Signs { kMinusOnly, kPlusOrMinus };

// The value of |word| when all of it is one sign at most and then decimal digits, and the value
// lies in [min, max]; nothing otherwise.
std::optional<std::int64_t> Decimal(std::string_view word, Signs signs, std::int64_t min,
                                    std::int64_t max);
