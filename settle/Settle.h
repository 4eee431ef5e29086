// The settlement: loads the six terminal logs into one entry table, allocates every fare to the
// subway or the bus operator in three passes, and reports the totals. One straight call chain:
// DBRead -> Non_Ad_Calculator -> TransferCalculator -> GeneralCalculator -> OutputHandler.
// Each link hands on the table, the count and its own copy of the Income.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "LogEntry.h"

// Every entry of the six logs, in log order and line order: one block, reserved up front from
// the sizes of the logs (see ReserveTable), so it never grows by a doubling copy.
using EntryTable = std::vector<LogEntry>;

// The running totals of one settlement run. 64-bit, so no number of entries can overflow them.
struct Income {
  std::int64_t subwayIncome = 0;  // won credited to the subway operator; may be negative
  std::int64_t busIncome = 0;     // won credited to the bus operator; may be negative
  std::int64_t runTime = 0;       // seconds since the epoch when the allocation started
};

// Loads the six logs in terminal order and runs the allocation chain on them. A log that is
// missing or cannot be read prints "Cannot find DB!" and ends the run: nothing is computed and
// no report file is created or changed. A damaged record ends the reading of its own log only;
// the entries before it are counted and the other logs are read as usual.
void DBRead();

// The surcharge pass: takes the current time as runTime, credits the surcharge carried by any
// of the first |count| entries of |table|, then calls TransferCalculator.
void Non_Ad_Calculator(const EntryTable& table, std::size_t count);

// The transfer pass: shares the trip amount of every transfer get-off between both operators
// and takes back the first leg's fare, adding to its own copy of |income|; then calls
// GeneralCalculator.
void TransferCalculator(const EntryTable& table, Income income, std::size_t count);

// The general pass: credits the fare of every ordinary get-off to the operator of the terminal
// where the ride ended, adding to its own copy of |income|; then calls OutputHandler.
void GeneralCalculator(const EntryTable& table, Income income, std::size_t count);

// The income report: appends a date line and an income line to each operator's report file
// and prints the summary block. Uses only |income|. A report that cannot be written is named
// in one line on standard output (detail on standard error); the other report is still
// written and the summary still printed, since the totals themselves are right.
void OutputHandler(const EntryTable& table, Income income, std::size_t count);

// Rounds a share to whole won as ceil(x - 0.5): an exact half rounds down. Needs |x| below
// 2^53, where a double still holds every whole number.
std::int64_t myRound(double x);
