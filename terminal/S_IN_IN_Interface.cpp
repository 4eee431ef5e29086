// SPDX-License-Identifier: Apache-2.0
#include "Tariff.h"
#include "Terminal.h"

void S_IN_IN_Interface(Card card) {
  InputDistributor3(card, TAG_SUBWAY_IN_IN, Fee{-1, -1, -1, 'I'});
}
