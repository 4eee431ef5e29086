// SPDX-License-Identifier: Apache-2.0
#include "Tariff.h"
#include "Terminal.h"

void OnSensorHandler(HeldBooks& books) { InputDistributor2(books, CardRead(), kRouteMode); }
