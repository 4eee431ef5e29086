// SPDX-License-Identifier: Apache-2.0
#include "Tariff.h"
#include "Terminal.h"

void OffSensorHandler() { InputDistributor1(CardRead(), kRouteMode); }
