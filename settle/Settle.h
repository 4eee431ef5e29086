// SPDX-License-Identifier: Apache-2.0
// The settlement: loads the six terminal logs into one entry table, allocates every fare to the
// subway or the bus operator in three passes, and reports the totals. One straight call chain:
// DBRead -> Non_Ad_Calculator -> TransferCalculator -> GeneralCalculator -> OutputHandler.
// Each link hands on the table, the count and its own copy of the Income.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "FareEntries.h"

// A sum of won in 128 bits: every credit of a log entry lies within 2^62 won, so no number of
// entries, in any order, can carry a sum out of its range, and addition never refuses a credit.
__extension__ typedef __int128 WideWon;

// The running totals of one settlement run. Only the report narrows them to its 64-bit numbers.
struct Income {
  WideWon subwayIncome = 0;  // won credited to the subway operator; may be negative
  WideWon busIncome = 0;     // won credited to the bus operator; may be negative
  std::int64_t runTime = 0;  // seconds since the epoch when the allocation started
  std::string settled;       // the settlements' lines for what the run settles (BookFiles.h)
};

// Takes the card lock (so that a tag a crash cut off is completed or dropped first), opens the
// six logs and notes their lengths, and releases the lock: the logs are then read without it,
// and what they held at that moment is what is settled. False, with every log closed and a
// detail on standard error, when the lock cannot be had or a log cannot be opened.
bool SnapshotLogs(LogSnapshots& logs);

// Loads the six logs and runs the allocation chain on them, reading the logs side by side on
// as many threads as the process may run on (at most one per log); the totals do not depend
// on that number. The logs are settled as they stood while the card lock was held, and only
// that long: see SnapshotLogs. A log that is missing or cannot be read, or a card lock that
// cannot be had, prints "Cannot find DB!" and ends the run: nothing is computed and no report
// file is created or changed. A damaged record costs only itself: it is named on standard
// error, and the reading of its log goes on at the next line.
void DBRead();

// Settles every run a terminal's start kept that no settlement covered, once: under a lock of
// its own, it names each such run for this settlement, reads them all and runs the allocation
// chain, whose report commits the settlement's name to the settlements with the reports. The
// runs then become settled, or, if the report was not committed, stay not settled; a kill or
// a power cut at any moment leaves them to the next such settlement, which sorts them first.
// With no run to settle, the report holds 0 won. A run that cannot be read ends it with
// "Cannot find DB!" and nothing settled.
void SettleKeptRuns();

// What SettleKeptRuns does first and last, alone: under the card lock, finishes the splits a
// start left half done and names settled the runs named for a settlement the settlements hold,
// not settled those named for one they do not. False, said, when it could not.
bool SortKeptRuns();

// DBRead with |threads| loading threads (at least one is used).
void DBRead(unsigned threads);

// The number of processors this process may run on; at least 1.
unsigned UsableProcessors();

// The surcharge pass: takes the current time as runTime and |settled| as what the run settles,
// credits the surcharge carried by any of the first |count| entries of |table|, then calls
// TransferCalculator.
void Non_Ad_Calculator(const EntryTable& table, std::size_t count, std::string settled = {});

// The transfer pass: shares the trip amount of every transfer get-off between both operators
// and takes back the first leg's fare, adding to its own copy of |income|; then calls
// GeneralCalculator.
void TransferCalculator(const EntryTable& table, Income income, std::size_t count);

// The general pass: credits the fare of every ordinary get-off to the operator of the terminal
// where the ride ended, adding to its own copy of |income|; then calls OutputHandler.
void GeneralCalculator(const EntryTable& table, Income income, std::size_t count);

// The income report: appends a date line and an income line to each operator's report file,
// and what the run settled to the settlements, and prints the summary block. Uses only
// |income|. The three gain their lines in one change of the books, under the card lock, or none
// does: a file that cannot be opened, or a
// change the journal cannot take, is named in one line on standard output (detail on standard
// error) instead of the summary, and nothing is written. The stopping signals wait from the
// first report write until the pair is committed. Totals whose
// subway, bus or overall figure lies beyond 64 bits cannot be reported: "Income out of range!"
// (the totals on standard error), and neither report is touched.
void OutputHandler(const EntryTable& table, Income income, std::size_t count);

// Rounds the share |numerator| / |divisor| to whole won as ceil(x - 1/2), exactly: an exact
// half rounds down. Needs a divisor other than 0 and |numerator| below 2^125.
WideWon myRound(WideWon numerator, std::int64_t divisor);
