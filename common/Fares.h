// SPDX-License-Identifier: Apache-2.0
// The fares: what the terminal charges and what the settlement credits, stated once for both.
// Nothing here is configurable.
#pragma once

#include <cstdint>

// Fares, in won.
inline constexpr std::int32_t kBaseFare = 1050;
// Surcharges at a get-on for an earlier ride that was never tagged off: each is the top
// additional fee of that ride's scale.
inline constexpr std::int32_t kMissedOffBusTransfer = 700;
inline constexpr std::int32_t kMissedOffSubwayTransfer = 600;
inline constexpr std::int32_t kMissedOffSubway = 200;

// Additional fee of a transfer ride ending at the bus station, by ride time.
inline constexpr std::int64_t kRidePeriodSeconds = 30;
inline constexpr std::int32_t kFeePerPeriod = 100;
inline constexpr std::int64_t kMostPeriods = 7;

// Additional fee of a ride ending at a subway station, by station count.
inline constexpr std::int64_t kSubwayStations = 5;
inline constexpr std::int32_t kTransferOneStationFee = 300;
inline constexpr std::int32_t kTransferFartherFee = 600;
inline constexpr std::int32_t kOrdinaryOneStationFee = 0;
inline constexpr std::int32_t kOrdinaryFartherFee = 200;

// A get-on after a get-off at a terminal of the other kind is free within this many seconds.
inline constexpr std::int64_t kTransferWindowSeconds = 15;
