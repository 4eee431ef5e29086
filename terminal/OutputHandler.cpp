#include "Clock.h"
#include "DataFiles.h"
#include "LogFile.h"
#include "Tariff.h"
#include "Terminal.h"
#include "WhatTerm.h"

namespace {

// The card as the accepted tag leaves it.
Card ChargedCard(Card card, Fee fee) {
  const std::int32_t charge = fee.baseFee + fee.missedOffFee + fee.additionalFee;
  card.tagTime = CurrentTime();
  card.vehicle = WhatTerm == kBusTermId ? 'B' : 'S';
  card.inOut = fee.direction;
  card.fee = fee;
  card.termId = WhatTerm;
  card.balance -= charge;
  if (fee.direction == 'O') {
    if (card.transfer == 'F') {
      card.prevFare = fee.additionalFee + kBaseFare;
    } else {
      card.prevVehicle = card.vehicle;
    }
  }
  return card;
}

bool WriteCard(const Card& card) {
  if (card.inOut == 'O') return InputDistributor1(card, kWriteMode);
  if (card.inOut == 'I') return InputDistributor2(card, kWriteMode);
  return false;
}

}  // namespace

bool OutputHandler(Card card, Fee fee) {
  const Card charged = ChargedCard(card, fee);
  // The log must be able to take the line before the card is charged, and the card as it was
  // is kept to be written back should the line still fail: card and log agree after any
  // failure the terminal sees. Only a crash between the two writes can leave the one charge
  // under way in the card without its line.
  const int log = OpenTerminalLog();
  if (log < 0) return false;
  const std::string card_path = DataPath(kCardFileName);
  const auto card_before = ReadFilePrefix(card_path, 4096);
  bool done = card_before.has_value() && WriteCard(charged);
  if (done && !DBWriter(charged, log)) {
    (void)ReplaceFileDurably(card_path, *card_before);
    done = false;
  }
  CloseFile(log);
  return done;
}
