// SPDX-License-Identifier: Apache-2.0
#include "Tariff.h"
#include "Terminal.h"

void B_IN_IN_Interface(HeldBooks& books, Card card) {
  InputDistributor3(books, card, TAG_BUS_IN_IN, Fee{-1, -1, -1, 'I'});
}
