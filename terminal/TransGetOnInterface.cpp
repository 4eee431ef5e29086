// SPDX-License-Identifier: Apache-2.0
#include "Tariff.h"
#include "Terminal.h"

void TransGetOnInterface(Card card) { InputDistributor3(card, TAG_TRANSFER_ON, Fee{0, 0, 0, 'I'}); }
