// SPDX-License-Identifier: Apache-2.0
#include "issuer.h"

#include <cstdio>
#include <cstdlib>

#include "BookFiles.h"
#include "Clock.h"
#include "ConsoleInput.h"
#include "DataFiles.h"

namespace {

constexpr std::int32_t kMaxCardId = 9999;
constexpr std::int32_t kMaxOpeningBalance = 10000000;

[[noreturn]] void Finish(const char* line) {
  std::printf("%s\n", line);
  std::fflush(stdout);
  std::exit(0);
}

// Prints |prompt| and reads an answer from 0 to |max|; ends the run with "Input Error!" for
// anything else.
std::int32_t Ask(const char* prompt, std::int32_t max) {
  std::printf("%s", prompt);
  std::fflush(stdout);
  const InputNumber answer = ReadNumber(stdin);
  if (answer.kind != InputKind::kNumber || answer.value < 0 || answer.value > max) {
    Finish("Input Error!");
  }
  return answer.value;
}

Card NewCard(std::int32_t card_id, std::int32_t balance) {
  Card card;
  card.cardId = card_id;
  card.tagTime = CurrentTime();
  card.vehicle = 'S';
  card.inOut = 'O';
  card.fee = Fee{0, 0, 0, 'O'};
  card.termId = 1111;
  card.transfer = 'F';
  card.balance = balance;
  card.prevFare = 0;
  card.prevVehicle = 'S';
  return card;
}

}  // namespace

void Issuer() {
  // Asked nothing that could not be written: without its directory no card can be.
  if (!DataDirectoryExists()) Finish("File Write Error.");
  const std::int32_t card_id = Ask("Input Card's ID(0000~9999) : ", kMaxCardId);
  const std::int32_t balance = Ask("Input Card's Balance(0~10000000) : ", kMaxOpeningBalance);
  // The lock also completes a tag that a crash cut off, so the new card cannot be overwritten
  // by an old tag's commit.
  HeldBooks books = LockBooks(kCardBooks);
  const bool written = Held(books) && CardWriter(books, NewCard(card_id, balance));
  UnlockBooks(books);
  Finish(written ? "Create Card Complete!" : "File Write Error.");
}
