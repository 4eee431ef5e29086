// SPDX-License-Identifier: Apache-2.0
#include "Tariff.h"
#include "Terminal.h"

void OnSensorHandler() { InputDistributor2(CardRead(), kRouteMode); }
