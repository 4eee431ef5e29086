// SPDX-License-Identifier: Apache-2.0
#include "FakeClock.h"

#include "Clock.h"

namespace {
std::int64_t fake_now = 1401959220;  // 2014-06-05 09:07:00 UTC
}  // namespace

void SetCurrentTime(std::int64_t seconds) { fake_now = seconds; }

std::int64_t CurrentTime() { return fake_now; }
