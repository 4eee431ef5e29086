// The terminal log: one line per accepted tag, in the order the tags were charged.
#pragma once

#include <string>

#include "Card.h"
#include "LogEntry.h"

// The log entry of the charged |card| at terminal |term_id|; stamp is left 0.
LogEntry ToLogEntry(const Card& card, std::int32_t term_id);

// Formats |entry| as its log line, ending in "\n". The date digits come from tagTime in local
// time; entry.stamp is not used.
std::string FormatLogLine(const LogEntry& entry);

// Creates the log of WhatTerm empty, or empties it. A failure is reported on standard error
// only: the run goes on, and every tag will then report that it cannot be logged.
void DBInit();

// Opens the log of WhatTerm for appending. Returns the descriptor, or -1 (detail on standard
// error) when it cannot be opened or WhatTerm has no log.
int OpenTerminalLog();

// Appends the log line of the charged |card| to |log| with one write and fsyncs it. On failure
// nothing of the line is left in the log and false is returned.
[[nodiscard]] bool DBWriter(Card card, int log);
