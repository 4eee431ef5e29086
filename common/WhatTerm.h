// SPDX-License-Identifier: Apache-2.0
// Terminal IDs and the ID of the running terminal.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// The terminal ID of this run of the terminal program: the menu number times 1111. Set once by
// initTerm before anything else reads it: the one piece of the terminal's run that every
// operation reads.
extern std::int32_t WhatTerm;

inline constexpr std::int32_t kFirstTermId = 1111;  // subway station 1
inline constexpr std::int32_t kBusTermId = 6666;    // the bus station
inline constexpr std::int32_t kTermIdStep = 1111;   // station number = ID / 1111

// Whether |term_id| is one of the six terminals (1111, 2222, ..., 6666).
bool IsTerminalId(std::int32_t term_id);

// The log file name of a terminal, "1111.txt" to "6666.txt"; empty for any other ID.
std::string LogFileName(std::int32_t term_id);

// Whether |name| is the log file name of one of the six terminals.
bool IsLogFileName(std::string_view name);
