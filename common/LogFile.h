// SPDX-License-Identifier: Apache-2.0
// The terminal log: one line per accepted tag, in the order the tags were charged.
//
// A record is the eleven fields of a LogEntry in its order, termId baseFee missedOffFee
// additionalFee cardId transfer prevFare prevVehicle inOut tagTime stamp: five 32-bit numbers,
// a letter, a 32-bit number, two letters, two 64-bit numbers. A number is an optional sign and
// decimal digits, as many as it has (leading zeros included); a letter is a field of exactly
// one character. The terminal writes one record a line, one space between fields; a reader
// takes fields separated by any white space, line ends included, so lines need not match
// records, and a record that breaks this grammar is damaged.
#pragma once

#include <cstddef>
#include <string>

#include "Card.h"
#include "LogEntry.h"

// The shortest record: eleven one-character fields, ten blanks between them and one after. A
// log of n bytes holds at most n / kShortestRecordBytes records.
inline constexpr std::size_t kShortestRecordBytes = 22;

// The log entry of the charged |card| at terminal |term_id|; stamp is left 0.
LogEntry ToLogEntry(const Card& card, std::int32_t term_id);

// Formats |entry| as its log line, ending in "\n". The date digits come from tagTime in local
// time; entry.stamp is not used.
std::string FormatLogLine(const LogEntry& entry);

// Checkpoints the journal, then creates the log of WhatTerm empty, or empties it, durably: a
// new empty file replaces it, and its old lines are kept beside it (see KeepRun). Needs |books|
// held. False, with the detail on standard error, when either failed: the log's old lines
// may then still stand there.
[[nodiscard]] bool DBInit(HeldBooks& books);

// The log line of the charged |card| for the log of WhatTerm, to be appended in the same card
// commit as the card (see CardWriter). Its name is empty when WhatTerm has no log.
BookAppend DBWriter(Card card);
