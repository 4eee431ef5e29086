// SPDX-License-Identifier: Apache-2.0
// The books of the single card, as the tests keep them from outside the programs: what the card
// file says and what the terminal logs say must agree, charge for charge. Also the few probes
// of a running terminal that a test needs from the operating system.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "Card.h"

// Whether |charge| is one the tariff can produce for a single tag: a get-off fee (0 to 700 in
// steps of 100), the base fare, or the base fare with one of the three missed-off surcharges.
bool IsPossibleCharge(std::int64_t charge);

// What a whole log says.
struct LogCheck {
  std::size_t lines = 0;
  std::int64_t charges = 0;  // sum of base + missed-off + additional over all lines
  std::string fault;         // the first thing wrong with the log; empty when it is sound
};

// Checks |log| line by line: every line ends in "\n", is exactly what the terminal writes for
// the entry it holds (eleven fields, the date digits those of its time stamp), names terminal
// |term_id| and card |card_id|, and carries a possible charge. Counts the lines and sums the
// charges of the sound ones.
LogCheck CheckLog(std::string_view log, std::int32_t term_id, std::int32_t card_id);

// The card in |text| when it is one whole card line, byte for byte as the programs write it;
// nothing for a torn, mixed or padded line.
std::optional<Card> WholeCard(std::string_view text);

// How often |what| occurs in |text|.
std::size_t CountOf(std::string_view text, std::string_view what);

// The sum of the total fees that the terminal output |out| shows for charged tags, and how many
// charged tags it shows.
struct Shown {
  std::size_t tags = 0;
  std::int64_t charges = 0;
};
Shown ShownCharges(std::string_view out);

// The log file name of the terminal chosen with menu number |choice| (1 to 6): "1111.txt" etc.
std::string LogNameOf(int choice);

// The first child process of |pid| (the menu process of a terminal), or -1 when it has none.
pid_t FirstChildOf(pid_t pid);

// Whether process |pid| exists and has not ended; a zombie, ended but not yet reaped by its
// parent, counts as ended.
bool IsRunning(pid_t pid);

// Whether someone holds the card lock at |path| right now. Takes and drops the lock itself when
// it is free, which delays a tag that wants it by a few microseconds at most.
bool LockIsHeld(const std::string& path);

// Whether some process waits for the card lock at |path| right now.
bool LockIsAwaited(const std::string& path);

// Whether signal |sig| waits, held back, for process |pid|.
bool SignalIsPending(pid_t pid, int sig);

// Whether any process is left in process group |group|.
bool GroupIsAlive(pid_t group);
