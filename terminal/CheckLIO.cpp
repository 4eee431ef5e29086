// SPDX-License-Identifier: Apache-2.0
#include "Terminal.h"

void CheckLIO(HeldBooks& books, Card card) {
  if (card.inOut == 'I') {
    InterfaceController(books, card);
  } else if (card.inOut == 'O') {
    TransferController(books, card);
  }
}
