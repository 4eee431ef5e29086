// SPDX-License-Identifier: Apache-2.0
// The benchmark's device flushes: the real ones, counted, or none at all on request, so that a
// tag's cost shows with its flushes and without them.
#pragma once

#include <cstddef>

// The flushes (file and directory) asked for since the process started.
std::size_t SyncsAsked();

// From now on, flushes succeed without reaching the device when |free| is true.
void MakeSyncsFree(bool free);
