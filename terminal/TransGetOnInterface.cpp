// SPDX-License-Identifier: Apache-2.0
#include "Tariff.h"
#include "Terminal.h"

void TransGetOnInterface(HeldBooks& books, Card card) {
  InputDistributor3(books, card, TAG_TRANSFER_ON, Fee{0, 0, 0, 'I'});
}
