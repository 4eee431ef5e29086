// SPDX-License-Identifier: Apache-2.0
// The clock every operation reads. Programs link the system clock; tests link a settable one.
#pragma once

#include <cstdint>

// Seconds since the epoch, now.
std::int64_t CurrentTime();
