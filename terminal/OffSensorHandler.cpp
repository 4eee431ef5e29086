#include "Tariff.h"
#include "Terminal.h"

void OffSensorHandler() { InputDistributor1(CardRead(), kRouteMode); }
