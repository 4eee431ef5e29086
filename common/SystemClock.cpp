// SPDX-License-Identifier: Apache-2.0
#include <ctime>

#include "Clock.h"

std::int64_t CurrentTime() { return static_cast<std::int64_t>(std::time(nullptr)); }
