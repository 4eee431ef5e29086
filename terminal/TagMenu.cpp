#include <csignal>
#include <cstdio>
#include <cstdlib>

#include "Card.h"
#include "Clock.h"
#include "ConsoleInput.h"
#include "DataFiles.h"
#include "LocalDate.h"
#include "Signals.h"
#include "Terminal.h"

namespace {

void PrintDateAndMenu() {
  const LocalDate now = ToLocalDate(CurrentTime());
  std::printf("%d-%d-%d %d:%d:%d\n", now.year, now.month, now.day, now.hour, now.minute,
              now.second);
  std::printf("-------------\n| 1.Get on  |\n| 2.Get off |\n-------------\n>> ");
  std::fflush(stdout);
}

// Holds the stopping signals back and takes the card lock: from here until Release, this
// process is between a choice and the next prompt, and nothing may stop it halfway.
int Hold() {
  const sigset_t stopping = StoppingSignals();
  sigprocmask(SIG_BLOCK, &stopping, nullptr);
  // Without a lock file the data directory is unusable anyway; the tag then reports why.
  return LockFile(DataPath(kCardLockName));
}

// Lets the other terminals and the supervisor in again; a stopping signal that arrived in
// the meantime takes effect now, between tags.
void Release(int lock) {
  std::fflush(stdout);
  UnlockFile(lock);
  const sigset_t stopping = StoppingSignals();
  sigprocmask(SIG_UNBLOCK, &stopping, nullptr);
}

void Serve(InputNumber choice) {
  if (choice.kind == InputKind::kNumber && choice.value == 1) {
    OnSensorHandler();
  } else if (choice.kind == InputKind::kNumber && choice.value == 2) {
    OffSensorHandler();
  } else {
    // A word that is not a number takes the rest of its line with it, so it is never read
    // again as a choice of its own.
    if (choice.kind == InputKind::kNotNumber) DiscardLine(stdin);
    std::printf("Wrong Input Error\n");
  }
}

}  // namespace

void TagMenu() {
  // Everything this process prints happens under the card lock, which the supervisor takes
  // before its last line: so that line stays the last one.
  int lock = Hold();
  while (true) {
    PrintDateAndMenu();
    Release(lock);
    const InputNumber choice = ReadNumber(stdin);
    if (choice.kind == InputKind::kEnd) std::exit(0);
    lock = Hold();
    Serve(choice);
  }
}
