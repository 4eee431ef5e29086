// SPDX-License-Identifier: Apache-2.0
// Reading answers at the console: what counts as a number, and what is left for the next read.
#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "ConsoleInput.h"

namespace {

// Reads every answer of |text| as "N" for a number, "?" for a non-number (discarding the rest
// of its line, as the tag menu does) and stops at the end of input.
std::string ReadAll(const std::string& text) {
  std::FILE* in = fmemopen(const_cast<char*>(text.data()), text.size(), "r");
  std::string seen;
  for (int guard = 0; guard < 100; ++guard) {
    const InputNumber answer = ReadNumber(in);
    if (answer.kind == InputKind::kEnd) break;
    if (answer.kind == InputKind::kNumber) {
      seen += std::to_string(answer.value) + " ";
    } else {
      seen += "? ";
      DiscardLine(in);
    }
  }
  std::fclose(in);
  return seen;
}

TEST(ConsoleInput, ReadsWholeNumbersOnly) {
  struct Row {
    std::string input;
    std::string expected;
  } rows[] = {
      {"", ""},
      {"   \n\n", ""},
      {"1\n", "1 "},
      {"42 20000\n", "42 20000 "},  // two answers on one line
      {"0042\n", "42 "},
      {"+7\n", "7 "},
      {"-1\n", "-1 "},
      {"2147483647\n", "2147483647 "},
      {"-2147483648\n", "-2147483648 "},
      {"2147483648\n", "? "},  // beyond 32 bits
      {"99999999999999999999999999999999999\n", "? "},
      {"12abc\n", "? "},
      {"abc\n2\n", "? 2 "},  // the rest of the line is dropped, the next line still read
      {"x 1 1\n2\n", "? 2 "},
      {"+\n-\n+-1\n", "? ? ? "},
      {"1", "1 "},  // end of input right after the number
      {std::string(100000, 'a') + "\n3\n", "? 3 "},
      {"\x01\xff\x80\n5\n", "? 5 "},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.input.substr(0, 40));
    EXPECT_EQ(ReadAll(row.input), row.expected);
  }
}

TEST(ConsoleInput, LeavesTheLineEndAfterANumberUnread) {
  std::string text = "1\nnext line\n";
  std::FILE* in = fmemopen(text.data(), text.size(), "r");
  EXPECT_EQ(ReadNumber(in).value, 1);
  EXPECT_EQ(std::getc(in), '\n');
  std::fclose(in);
}

}  // namespace
