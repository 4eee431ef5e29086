// SPDX-License-Identifier: Apache-2.0
#include "Terminal.h"

void CheckLIO(Card card) {
  if (card.inOut == 'I') {
    InterfaceController(card);
  } else if (card.inOut == 'O') {
    TransferController(card);
  }
}
