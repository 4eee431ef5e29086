// SPDX-License-Identifier: Apache-2.0
// The fixed numbers and names of the settlement. Nothing here is configurable.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "WhatTerm.h"

// The base fare of an ordinary ride. The allocation credits this constant at the get-off of an
// ordinary ride and never reads an entry's own baseFee.
inline constexpr std::int64_t kBaseFare = 1050;

// The only bus terminal; every other terminal ID counts as a subway station.
inline constexpr std::int32_t kBusStationId = kBusTermId;

// Surcharges a get-on carries for an earlier ride that was never tagged off, each the top
// additional fee of its kind of ride.
inline constexpr std::int32_t kMissedSubwayTransferOff = 600;  // bus ran the first leg
inline constexpr std::int32_t kMissedBusTransferOff = 700;     // subway ran the first leg
inline constexpr std::int32_t kMissedSubwayOff = 200;          // an ordinary subway ride

// The logs, in the order their entries enter the table.
inline constexpr std::array<std::int32_t, 6> kLogTermIds = {1111, 2222, 3333, 4444, 5555, 6666};

// The two report files, appended to by every run and never read back.
inline constexpr std::string_view kSubwayReportName = "SubwayCompany.txt";
inline constexpr std::string_view kBusReportName = "BusCompany.txt";

// Logs are read in pieces of this size, so memory does not grow with the size of a log. An
// unfinished record is carried to the next piece; a record longer than a piece (a written line
// is under 200 bytes, but the format allows any amount of white space) grows the buffer.
inline constexpr std::size_t kReadChunkBytes = std::size_t{64} * 1024;

// The shortest record: eleven one-character fields, ten blanks between them and one after. A
// log of n bytes holds at most n / kShortestRecordBytes records.
inline constexpr std::size_t kShortestRecordBytes = 22;
