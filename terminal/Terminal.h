// SPDX-License-Identifier: Apache-2.0
// The operations of the terminal program. Every operation takes its records by value and hands
// its own changed copies on to exactly one next operation; nothing travels back to a caller
// except the few results noted here. A tag runs on the books its caller holds (LockBooks),
// handed down the chain to the one operation that writes them.
#pragma once

#include <sys/types.h>

#include <cstdint>

#include "Card.h"

// Start-up and the service period.

// Prints the terminal selection menu and sets WhatTerm to the chosen number times 1111. The
// console is fully buffered from here on, standard error as well as standard output: output
// leaves at each FlushConsole, before every wait for input and after every tag, never in the
// middle of one. Only 1 to 6 are taken; anything else prints "Wrong Input Error" and shows the
// menu again. At end of input the process ends with status 0, having created or emptied no log.
void initTerm();

// Sends what the console holds: the details on standard error first, then the lines on
// standard output that they explain.
void FlushConsole();

// This run's hold on its station.
struct StationLock {
  int fd = -1;           // holds the lock when not -1; the kernel drops it with its last holder
  bool running = false;  // refused because another terminal of this station holds it
};

// Takes the lock of this run's station, "2222.lock" beside the logs for WhatTerm 2222, without
// waiting. A descriptor inherited across fork shares the lock, so it stays held while the
// supervisor or the menu process still runs. Refused (running) while another run holds it; -1
// without running when it cannot be opened or taken (detail on standard error).
StationLock LockStation();

// Takes this run's station, completes or discards a tag that a crash cut off, empties this
// terminal's log, then serves the tag menu in a child process for 180 seconds and stops it. A
// tag whose choice was read before the end of the period, or before SIGINT, SIGTERM or SIGHUP,
// completes in the files and shows its result, however long its card and log work takes; a
// menu process past that work but stuck at a console that does not read is killed after a
// short grace. Every process ends within a second of the end when the disk answers within it.
// "3 minutes over!" is the last line of a period that ran out, written if the console takes it.
// A station that another run holds prints "Terminal Already Running."; no station lock or no
// card lock prints "File Write Error."; either returns at once, having emptied nothing.
void MainController();

// What the menu process tells its supervisor through the progress pipe, one byte a change.
inline constexpr char kAtBooks = 'B';    // a tag's card and log work is under way
inline constexpr char kAtConsole = 'C';  // the books are done, or none begun: only the console

// The service period as the menu process knows it.
struct MenuPeriod {
  std::int64_t start = 0;  // when the period began
  pid_t supervisor = -1;   // the process that ends the period
  int progress = -1;       // write end of the progress pipe to the supervisor
};

// The tag menu loop of the child process: date line, menu, one choice, one tag, again. Ends
// the process quietly at end of input, and without serving it when a choice comes after the
// period, after a stop request or after the supervisor has gone. Each tag holds the stopping
// signals and Ctrl-Z back until its result has gone to the console, holds the card lock only
// for its card and log work, and reports kAtBooks before that work and kAtConsole after it.
[[noreturn]] void TagMenu(MenuPeriod period);

// Menu choice 1 and 2: read the card (ending the process with "File Read Error." when it
// cannot be read) and route a get-on or a get-off on |books|, which the caller holds. What they
// print stays in the console buffer until the caller flushes it.
void OnSensorHandler(HeldBooks& books);
void OffSensorHandler(HeldBooks& books);

// Routing.

// Mode 1 routes a get-off. Mode 2 writes |card| to the card file exactly as received, with
// |log| in the same card commit, and returns whether both reached the disk. Any other mode
// prints "Wrong Input Error!" and ends the process with status 0, touching nothing.
bool InputDistributor1(HeldBooks& books, Card card, std::int32_t mode, BookAppend log = {});

// Mode 1 routes a get-on. Mode 2 stamps its copy with the current time and writes it as
// InputDistributor1 does. Other modes as for InputDistributor1.
bool InputDistributor2(HeldBooks& books, Card card, std::int32_t mode, BookAppend log = {});

// Hands card and fee on by routing code: TAG_BUS_IN_IN and TAG_SUBWAY_IN_IN by the transfer
// flag to the charge for an unfinished ride, TAG_OFF, TAG_TRANSFER_ON and TAG_GENERAL_ON to
// AdditionalFee. Any other code does nothing.
void InputDistributor3(HeldBooks& books, Card card, std::int32_t code, Fee fee);

// Get-on by the previous direction: 'I' an unfinished ride, 'O' a new ride; any other value
// ends the tag silently.
void CheckLIO(HeldBooks& books, Card card);
// Unfinished ride by the vehicle it began on; any other vehicle ends the tag silently.
void InterfaceController(HeldBooks& books, Card card);
// New ride: free transfer when the previous get-off was at a terminal of the other kind at
// most 15 seconds ago (a clock set back counts as within), an ordinary get-on otherwise.
void TransferController(HeldBooks& books, Card card);

// Fee builders: each builds its fee record, applies its card changes and hands both on.
void GeneralGetOnInterface(HeldBooks& books, Card card);
void TransGetOnInterface(HeldBooks& books, Card card);
void B_IN_IN_Interface(HeldBooks& books, Card card);
void S_IN_IN_Interface(HeldBooks& books, Card card);

// Charges for a get-on after a ride that was never tagged off: base fare plus the top fee of
// that ride's scale. The two subway cases print "BalanceCheck Complete." after an accepted tag.
void B_IN_IN(HeldBooks& books, Card card);
void Trans_S_IN_IN(HeldBooks& books, Card card);
void Not_Trans_S_IN_IN(HeldBooks& books, Card card);

// Fare rules.

// Marks a get-on as a transfer or an ordinary ride, or works out the additional fee of a
// get-off (ride time at the bus station, station count at a subway station), then calls
// BalanceCheck. A get-off on a card whose transfer flag is neither 'T' nor 'F' (a hand-edited
// card) is not charged at all: the tag ends silently.
void AdditionalFee(HeldBooks& books, Card card, std::int32_t code, Fee fee);

// Charging.

// What DisplayInterface shows.
struct DisplayInfo {
  char message[1024];
  std::int32_t totalFee;
  std::int32_t balance;  // before the charge
};

// Refuses the tag when the balance is below the charge (nothing stored), otherwise charges it
// through OutputHandler; shows the result block either way. Returns kCharged only when the
// card and the log line both reached the disk; kNotCharged when refused, or when the writes
// failed, in which case "File Write Error." is printed instead of the result block.
std::int32_t BalanceCheck(HeldBooks& books, Card card, Fee fee);

// Updates the card for an accepted tag, writes the card file and appends the log line in one
// card commit: both reach the disk, whatever stops the process, or neither does. Returns true
// when both were written; false, with both as they were, when they could not be.
bool OutputHandler(HeldBooks& books, Card card, Fee fee);

// Prints the result block for status kCharged or kNotCharged; nothing for any other status.
void DisplayInterface(std::int32_t status, DisplayInfo info);
