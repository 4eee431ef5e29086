// SPDX-License-Identifier: Apache-2.0
#include "Tariff.h"
#include "Terminal.h"

void InputDistributor3(HeldBooks& books, Card card, std::int32_t code, Fee fee) {
  if (code == TAG_BUS_IN_IN) {
    // The placeholder fee is never charged: the unfinished ride decides the charge.
    if (card.transfer == 'T') {
      B_IN_IN(books, card);
    } else {
      GeneralGetOnInterface(books, card);
    }
  } else if (code == TAG_SUBWAY_IN_IN) {
    if (card.transfer == 'T') {
      Trans_S_IN_IN(books, card);
    } else {
      Not_Trans_S_IN_IN(books, card);
    }
  } else if (code == TAG_GENERAL_ON || code == TAG_TRANSFER_ON || code == TAG_OFF) {
    AdditionalFee(books, card, code, fee);
  }
}
