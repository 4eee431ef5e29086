// SPDX-License-Identifier: Apache-2.0
// The settable clock the tests link in place of the system clock.
#pragma once

#include <cstdint>

// Every later CurrentTime() returns |seconds| until the next call.
void SetCurrentTime(std::int64_t seconds);
