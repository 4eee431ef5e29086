// SPDX-License-Identifier: Apache-2.0
// The terminal's constants: the fares (Fares.h), the service period, routing codes and modes.
// Nothing here is configurable.
#pragma once

#include <cstdint>

#include "Fares.h"

// How long one run of the terminal serves tags.
inline constexpr std::int64_t kServicePeriodSeconds = 180;

// Routing codes handed to InputDistributor3.
inline constexpr std::int32_t TAG_OFF = 11;
inline constexpr std::int32_t TAG_BUS_IN_IN = 12;
inline constexpr std::int32_t TAG_SUBWAY_IN_IN = 13;
inline constexpr std::int32_t TAG_TRANSFER_ON = 14;
inline constexpr std::int32_t TAG_GENERAL_ON = 77;

// Modes of InputDistributor1 and InputDistributor2.
inline constexpr std::int32_t kRouteMode = 1;
inline constexpr std::int32_t kWriteMode = 2;

// Outcomes of BalanceCheck.
inline constexpr std::int32_t kCharged = 0;
inline constexpr std::int32_t kNotCharged = -1;
