// SPDX-License-Identifier: Apache-2.0
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>

#include "BookFiles.h"
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

// Whether a stop request (the supervisor's, or the console's) waits behind the held signals.
bool StopPending() {
  sigset_t pending;
  sigpending(&pending);
  return sigismember(&pending, SIGTERM) || sigismember(&pending, SIGINT) ||
         sigismember(&pending, SIGHUP);
}

// Whether the choice just read comes too late to be served: the period is over, a stop was
// asked for, or the supervisor that would end the period is gone.
bool TooLate(const MenuPeriod& period) {
  return StopPending() || CurrentTime() - period.start >= kServicePeriodSeconds ||
         getppid() != period.supervisor;
}

// Tells the supervisor how far the tag has come. Waits for room rather than lose the news;
// once the supervisor is gone the write fails, and there is nobody left to tell.
void Tell(int progress, char stage) {
  while (write(progress, &stage, 1) < 0 && errno == EINTR) {
  }
}

// Runs a get-on or a get-off under the card lock. What it prints waits in the console buffers:
// the lock is never held while the console takes output, so a console that stops reading holds
// up no other terminal.
void Serve(bool get_on, int progress) {
  HeldBooks books = LockBooks(kCardBooks);
  bool card_read = true;
  if (!Held(books)) {
    // No lock, or a tag that a crash cut off could not be completed: the books must not move.
    std::printf("File Write Error.\n");
  } else {
    card_read = ReadCardFile().has_value();
    if (card_read) get_on ? OnSensorHandler(books) : OffSensorHandler(books);
  }
  UnlockBooks(books);
  Tell(progress, kAtConsole);
  // A card that cannot be read ends the process, with the lock gone before the exit's flush.
  if (!card_read) EndWithFileReadError();
}

}  // namespace

void TagMenu(MenuPeriod period) {
  while (true) {
    PrintDateAndMenu();
    const InputNumber choice = ReadNumber(stdin);
    if (choice.kind == InputKind::kEnd) std::exit(0);
    // From here until the tag's result has gone to the console, a stop request and Ctrl-Z
    // wait: a tag is never cut in half by one, nor frozen with the card lock taken.
    HoldStoppingSignals(true);
    const bool tag = choice.kind == InputKind::kNumber && (choice.value == 1 || choice.value == 2);
    // Told before the checks below, so that a stop request they do not see finds the
    // supervisor aware of the books under way.
    if (tag) Tell(period.progress, kAtBooks);
    if (TooLate(period)) std::_Exit(0);
    if (tag) {
      Serve(choice.value == 1, period.progress);
    } else {
      // A word that is not a number takes the rest of its line with it, so it is never read
      // again as a choice of its own.
      if (choice.kind == InputKind::kNotNumber) DiscardLine(stdin);
      std::printf("Wrong Input Error\n");
    }
    FlushConsole();
    HoldStoppingSignals(
        false);  // a stop request that came meanwhile takes effect here, between tags
  }
}
