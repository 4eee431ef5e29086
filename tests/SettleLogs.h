// SPDX-License-Identifier: Apache-2.0
// The logs of the settlement's tests and benchmark, with what they settle to.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct Row {  // a log, the totals it settles to, and the line and byte of each damaged record
  std::string log;
  std::int64_t subway, bus;
  std::vector<std::pair<long, long>> skipped = {};
};

inline std::vector<Row> Rows() {
  const std::string g = "3333 0 0 200 7 F 1250 S O 1 2\n";  // 1250 to the subway
  // Two damaged records, each followed by room enough for the fast path to try it.
  const auto damaged = [&g](const std::string& one, const std::string& two) {
    return Row{g + one + "\n" + g + two + "\n" + g + g, 5000, 0, {{2, 30}, {4, 61 + ssize(one)}}};
  };
  const std::string lines = "3333" + std::string(70000, '\n') + " 0 0 200 7 F 1250 S O 1 2\n";
  const std::string wide = "-" + std::string(500000, '0') + "3 \t" + std::string(500000, ' ') +
                           "0 0 200 7\nF 1250 S O 1";  // and " 2\n" when whole
  return {
      // Besides kTrips: the other transfer, halves rounded down, a free first leg, no credit.
      {"2222 0 0 0 7 F 1050 S O 1 2\n6666 0 0 300 7 T 1050 B O 1 2", 591, 759},
      {"3333 0 0 420 7 T 1050 S O 1 2", 858, -438},
      {"2222 0 0 -2092 7 T 0 S O 1 2", 135721, -137813},
      {"6666 0 0 300 7 T 0 B O 1 2", 0, 300},
      {"7777 0 0 0 7 F 1050 S O 1 2", 1050, 0},  // an unknown terminal counts as subway
      {"1111 0 200 200 7 F 1250 S O 1 2", 2500, 0},
      {"1111 0 300 0 7 F 0 S I 1 2\n6666 0 0 0 7 T 0 B I 1 2\n1111 0 0 5 7 F 0 S X 1 2", 0, 0},
      {"6666 0 0 5 7 Q 0 B O 1 2\n6666 0 0 600 7 T -300 B O 1 2\n6666 0 0 0 7 T 0 B O 1 2", 0, 0},
      {"3333 0 700 0 7 F -350 S I 1 2\n2222 0 0 -2100 7 T 0 S O 1 2", 0, 0},
      // Amounts beyond 32 bits, and shares beyond 2^53 and near 2^60, where a double is off.
      {"1111 0 0 2147483647 7 F 0 S O 1 2\n1111 0 0 2147483647 7 F 0 S O 1 2", 4294969394, 0},
      {"3333 0 700 0 7 F 2147483647 S I 1 2", 1073741998, 1073742349},
      {"1111 0 0 -2147483648 7 T 0 S O 1 2", -2147483648, 0},
      {"6666 0 0 189812531 7 T -94906265 B O 1 2", -9007199136250225, 9007199326062756},
      {"6666 0 0 0 7 T 379625063 B O 1 2", -189812531, 189812531},
      {"6666 0 0 2147483647 7 T -1073741824 B O 1 2", 1152921504606846976, -1152921502459363329},
      // Whole records: apart by any blanks, over lines, with signs, leading zeros, each limit.
      {"+006666\t-0\v+0\f-0300\n7\r\nF 5\n\nB O -1 +2\n \t\n", 0, 750},
      {"-2147483648 2147483647 600 -2147483648 0 T 2147483647 S O 1 2", -2147482640, 642},
      {"3333 0 0 200 2147483647 F 1250 S O -9223372036854775808 9223372036854775807", 1250, 0},
      {"6666 0 0 " + std::string(70000, '0') + "300 7 F 0 B O 1 2", 0, 1350},
      {g + lines + wide + " 2\n" + g, 5000, 0},
      // Each kind of damage costs only its record; the reading goes on at the next line.
      {g + "3333 0 0 200 7 F 1250 S O 1 \n", 1250, 0, {{2, 30}}},
      damaged("3333 0 0 200x 7 F 1250 S O 1 2", "3333 0 0 - 7 F 1250 S O 1 2"),
      damaged("3333 0 0 +-5 7 F 1250 S O 1 2", "2147483648 0 0 0 7 F 0 S O 1 2"),
      damaged("3333 0 0 -2147483649 7 F 0 S O 1 2", "3333 0 0 0 7 F 0 S O 1 9223372036854775808"),
      damaged("3333 0 0 0 7 F 0 S O 1 0" + std::string(30, '9'), "3333 0 0 200 7 FT 1250 S O 1 2"),
      damaged("3333 0 0 200 7 F 1250 S7 O 1 2", "3333 0 0 200 7 F 1250 S O7 1 2"),
      damaged("3333 0 0 200 7 F1250 S O 1 2 3", std::string("3333 0 0 2\0 7 F 0 S O 1 2", 25)),
      {g + "3333 0 0 " + std::string(300, '7'), 1250, 0, {{2, 30}}},
      {"1 2 3 4 5 F 6 S I 7\nx\n" + g, 1250, 0, {{1, 0}, {2, 20}}},
      {"3333 0 x " + g + g, 1250, 0, {{1, 0}}},
      {lines + wide + "x\n" + g, 2500, 0, {{70002, 70030}, {70003, 1070044}}},
  };
}

// Trips as terminals log them, with their worth to the subway and the bus: the example day (a
// subway ride; a bus ride, then a subway transfer ride), and get-ons with each surcharge.
inline const Row kTrips[] = {
    {"1111 1050 0 0 42 F 0 S I 1433851200 201569120\n"
     "3333 0 0 200 42 F 1250 S O 1433852400 2015691220\n"
     "6666 1050 0 0 42 F 1250 S I 1433854800 201569130\n"
     "6666 0 0 0 42 F 1050 B O 1433855700 2015691315\n"
     "4444 0 0 0 42 T 1050 B I 1433855710 2015691315\n"
     "5555 0 0 300 42 T 1350 S O 1433856600 2015691330\n",
     2009, 591},
    {"6666 1050 700 0 42 F 1250 B I 1433860000 2015691526\n"
     "1111 1050 600 0 42 F 1650 S I 1433861000 2015691543\n"
     "4444 1050 200 0 42 F 1250 S I 1433862000 201569160\n",
     3020, 1830},
};

inline std::string LogName(int log) { return std::to_string(1111 * (log + 1)) + ".txt"; }

// Appends each line of |trip| to its log in |logs|, logs[0] being 1111.txt.
inline void AddTrip(const Row& trip, std::string* logs) {
  for (std::string_view rest = trip.log; !rest.empty(); rest.remove_prefix(rest.find('\n') + 1)) {
    logs[rest[0] - '1'] += rest.substr(0, rest.find('\n') + 1);
  }
}
