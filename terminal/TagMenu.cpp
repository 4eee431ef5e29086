#include <csignal>
#include <cstdio>
#include <cstdlib>

#include "Card.h"
#include "CardCommit.h"
#include "Clock.h"
#include "ConsoleInput.h"
#include "DataFiles.h"
#include "LocalDate.h"
#include "Signals.h"
#include "Tariff.h"
#include "Terminal.h"

namespace {

void PrintDateAndMenu() {
  const LocalDate now = ToLocalDate(CurrentTime());
  std::printf("%d-%d-%d %d:%d:%d\n", now.year, now.month, now.day, now.hour, now.minute,
              now.second);
  std::printf("-------------\n| 1.Get on  |\n| 2.Get off |\n-------------\n>> ");
  FlushConsole();
}

void SetStopsHeld(bool held) {
  const sigset_t stopping = StoppingSignals();
  sigprocmask(held ? SIG_BLOCK : SIG_UNBLOCK, &stopping, nullptr);
}

// Whether a stop request (the supervisor's, or the console's) waits behind the held signals.
bool StopPending() {
  sigset_t pending;
  sigpending(&pending);
  return sigismember(&pending, SIGTERM) || sigismember(&pending, SIGINT) ||
         sigismember(&pending, SIGHUP);
}

// Runs a get-on or a get-off under the card lock. What it prints waits in the console buffer:
// the lock is never held while the console takes output, so a console that stops reading holds
// up no other terminal.
void Serve(bool get_on) {
  const int lock = LockCard();
  if (lock < 0) {
    // No lock, or a tag that a crash cut off could not be completed: the books must not move.
    std::printf("File Write Error.\n");
  } else {
    // A card that cannot be read ends the process; the lock must go before the exit's flush.
    if (!ReadCardFile()) {
      UnlockFile(lock);
      EndWithFileReadError();
    }
    get_on ? OnSensorHandler() : OffSensorHandler();
  }
  UnlockFile(lock);
}

}  // namespace

void TagMenu(std::int64_t start) {
  while (true) {
    PrintDateAndMenu();
    const InputNumber choice = ReadNumber(stdin);
    if (choice.kind == InputKind::kEnd) std::exit(0);
    // From here until the tag's result has gone to the console, a stop request waits: a tag is
    // never cut in half by one. A choice read once the period is over, or after a stop
    // request, is not served.
    SetStopsHeld(true);
    if (StopPending() || CurrentTime() - start >= kServicePeriodSeconds) std::_Exit(0);
    if (choice.kind == InputKind::kNumber && (choice.value == 1 || choice.value == 2)) {
      Serve(choice.value == 1);
    } else {
      // A word that is not a number takes the rest of its line with it, so it is never read
      // again as a choice of its own.
      if (choice.kind == InputKind::kNotNumber) DiscardLine(stdin);
      std::printf("Wrong Input Error\n");
    }
    FlushConsole();
    SetStopsHeld(false);  // a stop request that came meanwhile takes effect here, between tags
  }
}
