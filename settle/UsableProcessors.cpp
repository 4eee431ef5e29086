// SPDX-License-Identifier: Apache-2.0
#include <sched.h>

#include <algorithm>

#include "Settle.h"

unsigned UsableProcessors() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof set, &set) != 0) return 1;
  return static_cast<unsigned>(std::max(1, CPU_COUNT(&set)));
}
