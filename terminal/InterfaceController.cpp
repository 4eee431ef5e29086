// SPDX-License-Identifier: Apache-2.0
#include "Terminal.h"

void InterfaceController(HeldBooks& books, Card card) {
  if (card.vehicle == 'B') {
    card.prevVehicle = 'B';
    B_IN_IN_Interface(books, card);
  } else if (card.vehicle == 'S') {
    card.prevVehicle = 'S';
    S_IN_IN_Interface(books, card);
  }
}
