// SPDX-License-Identifier: Apache-2.0
// The signals that a tag holds back until its result has gone to the console: Ctrl-C, a polite
// kill, a closed console window and a console that went away under a write, which stop the
// terminal; and Ctrl-Z with the stops of a background console, which would freeze the tag with
// the card lock in its hands.
#pragma once

#include <csignal>

// The held signals as a set, for holding them back around a tag.
sigset_t StoppingSignals();
