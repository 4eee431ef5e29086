// SPDX-License-Identifier: Apache-2.0
#include "Tariff.h"
#include "Terminal.h"

void OffSensorHandler(HeldBooks& books) { InputDistributor1(books, CardRead(), kRouteMode); }
