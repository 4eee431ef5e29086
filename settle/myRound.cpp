#include <cmath>

#include "Settle.h"

std::int64_t myRound(double x) { return static_cast<std::int64_t>(std::ceil(x - 0.5)); }
