// SPDX-License-Identifier: Apache-2.0
#include "Tariff.h"
#include "Terminal.h"

void GeneralGetOnInterface(HeldBooks& books, Card card) {
  card.prevFare = kBaseFare;
  card.prevVehicle = card.vehicle;
  InputDistributor3(books, card, TAG_GENERAL_ON, Fee{kBaseFare, 0, 0, 'I'});
}
