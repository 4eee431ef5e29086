// SPDX-License-Identifier: Apache-2.0
#include "Signals.h"

#include <initializer_list>

sigset_t StoppingSignals() {
  sigset_t set;
  sigemptyset(&set);
  for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGPIPE, SIGTSTP, SIGTTIN, SIGTTOU})
    sigaddset(&set, sig);
  return set;
}

void HoldStoppingSignals(bool held) {
  const sigset_t set = StoppingSignals();
  sigprocmask(held ? SIG_BLOCK : SIG_UNBLOCK, &set, nullptr);
}
