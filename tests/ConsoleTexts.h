// SPDX-License-Identifier: Apache-2.0
// What the programs print, byte for byte, and the moment the end-to-end tests run at: shared by
// every test that drives a real program.
#pragma once

#include <cstdint>

inline constexpr std::int64_t kStart = 1417849509;             // 2014-12-06 07:05:09 UTC
inline constexpr const char* kDateLine = "2014-12-6 7:5:9\n";  // the tag menu's date at kStart
inline constexpr std::int64_t kServicePeriod = 180;

inline constexpr const char* kIdPrompt = "Input Card's ID(0000~9999) : ";
inline constexpr const char* kBalancePrompt = "Input Card's Balance(0~10000000) : ";

inline constexpr const char* kSelection =
    "Select Terminal\n1.Subway - Daepyeong University\n2.Subway - Wangsimni\n"
    "3.Subway - Hapjeong\n4.Subway - Sillim\n5.Subway - Gangnam\n6.Bus Station\n>> ";
inline constexpr const char* kMenu =
    "-------------\n| 1.Get on  |\n| 2.Get off |\n-------------\n>> ";
inline constexpr const char* kPeriodOver = "3 minutes over!\n";

// An ordinary card with 20000 won on it, last tagged off at subway station 1 at 07:05:00.
inline constexpr const char* kCardLine = "42 S O 0 0 0 1111 F 20000 0 S 1417849500 201412675";

// A card with room for thousands of tags, for the tests that tag as fast as they can.
inline constexpr std::int32_t kCardId = 42;
inline constexpr std::int32_t kOpening = 10000000;
inline constexpr const char* kOpeningCard = "42 S O 0 0 0 1111 F 10000000 0 S 1417849500 201412675";
