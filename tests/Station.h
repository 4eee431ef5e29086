// SPDX-License-Identifier: Apache-2.0
// A data directory for driving the real terminal: the card of kCardLine in place and the
// programs' clock frozen at kStart.
#pragma once

#include "ConsoleTexts.h"
#include "DataDir.h"
#include "Process.h"

struct Station {
  DataDir dir;
  ClockFile clock{dir.Path("clock")};
  Station() {
    clock.Set(kStart);
    dir.Write("usercard.txt", kCardLine);
  }
  ProcessOptions Options() { return {dir.workdir(), &clock, {}}; }
};
