// SPDX-License-Identifier: Apache-2.0
// The signals that a change of the books holds back until it is done and told: Ctrl-C, a polite
// kill, a closed console window and a console that went away under a write, which stop a
// program; and Ctrl-Z with the stops of a background console, which would freeze it with the
// card lock in its hands.
#pragma once

#include <csignal>

// The held signals as a set.
sigset_t StoppingSignals();

// Holds the stopping signals back when |held|, or lets them through again: one that came
// meanwhile takes effect then.
void HoldStoppingSignals(bool held);
