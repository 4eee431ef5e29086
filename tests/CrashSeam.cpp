#include "CrashSeam.h"

#include <unistd.h>

#include "DurableSteps.h"

namespace {

std::size_t crash_step = 0;
bool crash_torn = false;
std::size_t steps_taken = 0;

}  // namespace

void CrashAtStep(std::size_t step, bool torn) {
  crash_step = step;
  crash_torn = torn;
  steps_taken = 0;
}

std::size_t DurableStepsTaken() { return steps_taken; }

std::size_t DurableStepBytes(std::size_t size) {
  ++steps_taken;
  return steps_taken == crash_step && crash_torn ? size / 2 : size;
}

void DurableStepDone() {
  if (steps_taken == crash_step) _exit(kCrashedStatus);
}
