// The crash seam of the file helpers. Every write that the books depend on is one durable step:
// its bytes are written, then synced. The programs link a seam that lets every step run whole;
// the crash-point test links one that ends the process after a chosen step, or halfway
// through it, to prove that a crash at any moment leaves whole books.
#pragma once

#include <cstddef>

// Called as a durable step is about to write |size| bytes; returns how many of them to write.
std::size_t DurableStepBytes(std::size_t size);

// Called once a durable step's bytes are written and synced.
void DurableStepDone();
