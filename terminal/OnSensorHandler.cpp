#include "Tariff.h"
#include "Terminal.h"

void OnSensorHandler() { InputDistributor2(CardRead(), kRouteMode); }
