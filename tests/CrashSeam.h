// The crash seam the tests link: every durable step of the file helpers runs whole, unless a
// test asks this process to end at one of them, as a kill or a power cut would end it.
#pragma once

#include <cstddef>

// The exit status of a process ended by the seam.
inline constexpr int kCrashedStatus = 77;

// From now on, ends the process right after its |step|-th durable step (counted from 1), or, when
// |torn|, in the middle of it: only half of that step's bytes are written and synced. Step 0
// never comes.
void CrashAtStep(std::size_t step, bool torn);

// The durable steps taken since the last CrashAtStep.
std::size_t DurableStepsTaken();
