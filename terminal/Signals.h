// The signals that stop a terminal: Ctrl-C, a polite kill, a closed console window, and a
// console that went away under a write.
#pragma once

#include <csignal>

// The stopping signals as a set, for holding them back around a tag.
sigset_t StoppingSignals();
