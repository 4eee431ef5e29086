// SPDX-License-Identifier: Apache-2.0
#include <cstdio>
#include <cstdlib>

#include "ConsoleInput.h"
#include "Terminal.h"
#include "WhatTerm.h"

namespace {

constexpr std::int32_t kMenuTerminals = 6;
// Far more than a tag prints between two flushes.
constexpr std::size_t kConsoleBufferBytes = std::size_t{64} * 1024;

void PrintSelectionMenu() {
  std::printf(
      "Select Terminal\n"
      "1.Subway - Daepyeong University\n"
      "2.Subway - Wangsimni\n"
      "3.Subway - Hapjeong\n"
      "4.Subway - Sillim\n"
      "5.Subway - Gangnam\n"
      "6.Bus Station\n"
      ">> ");
  std::fflush(stdout);
}

}  // namespace

void FlushConsole() {
  std::fflush(stderr);
  std::fflush(stdout);
}

void initTerm() {
  // Nothing may go to the console while a tag holds the card lock: a console or a standard
  // error that stops reading would hold up every terminal. So output leaves only where it is
  // flushed, details and results alike.
  std::setvbuf(stdout, nullptr, _IOFBF, kConsoleBufferBytes);
  std::setvbuf(stderr, nullptr, _IOFBF, kConsoleBufferBytes);
  while (true) {
    PrintSelectionMenu();
    const InputNumber choice = ReadNumber(stdin);
    if (choice.kind == InputKind::kEnd) std::exit(0);
    if (choice.kind == InputKind::kNumber && choice.value >= 1 && choice.value <= kMenuTerminals) {
      WhatTerm = choice.value * kTermIdStep;
      return;
    }
    // A word that is not a number takes the rest of its line with it.
    if (choice.kind == InputKind::kNotNumber) DiscardLine(stdin);
    std::printf("Wrong Input Error\n");
  }
}
