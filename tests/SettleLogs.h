// SPDX-License-Identifier: Apache-2.0
// The logs of the settlement's tests and benchmark: a table of hand-written logs with what they
// settle to, the example day, and random trips as a busy day of rides leaves them.
#pragma once

#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <vector>

// A log, the totals it settles to, and the line and byte of each damaged record it holds.
struct Row {
  std::string log;
  std::int64_t subway, bus;
  std::vector<std::pair<int, int>> skipped = {};
};

inline std::vector<Row> Rows() {
  const std::string g = "3333 0 0 200 7 F 1250 S O 1 2\n";  // 1250 to the subway
  const auto damaged = [&g](const std::string& record) {    // then room for the fast path to try it
    return Row{g + record + g + g, 3750, 0, {{2, 30}}};
  };
  const std::string spread = "3333" + std::string(70000, '\n') + " 0 0 200 7 F 1250 S O 1 2\n";
  const std::string padded = "-" + std::string(500000, '0') + "3 \t" + std::string(500000, ' ') +
                             "0 0 200 7\nF 1250 S O 1 2\n";
  return {
      // Each rule: surcharges (whatever the terminal), transfer get-offs at a subway station and
      // at the bus station, ordinary get-offs, entries that credit nothing, divisors of 0.
      {"3333 0 600 0 7 F 1050 S I 1 2", 1008, 642},
      {"3333 0 700 0 7 F 1250 S I 1 2", 762, 1188},
      {"6666 0 200 0 7 T 0 B I 1 2", 1250, 0},
      {"3333 0 300 0 7 F 1050 S I 1 2", 0, 0},
      {"3333 0 0 420 7 T 1050 S O 1 2", 858, -438},       // an exact half, rounded down
      {"2222 0 0 -2092 7 T 0 S O 1 2", 135721, -137813},  // the same below zero
      {"6666 0 0 300 7 T 0 B O 1 2", 0, 300},
      {"7777 0 0 0 7 F 1050 S O 1 2", 1050, 0},  // an unknown terminal counts as subway
      {"6666 0 0 300 7 F 1050 B O 1 2", 0, 1350},
      {"1111 0 200 200 7 F 1250 S O 1 2", 2500, 0},
      {"1111 1050 0 0 7 F 0 S I 1 2\n6666 0 0 0 7 T 0 B I 1 2", 0, 0},
      {"1111 0 0 500 7 F 1050 S X 1 2\n6666 0 0 500 7 Q 1050 B O 1 2", 0, 0},
      {"6666 0 0 0 7 T 0 B O 1 2\n6666 0 0 600 7 T -300 B O 1 2", 0, 0},
      {"3333 0 700 0 7 F -350 S I 1 2\n2222 0 0 -2100 7 T 0 S O 1 2", 0, 0},
      // Worked trips' get-offs: bus, then a subway transfer ride; subway, then a bus one.
      {"6666 0 0 0 7 F 1050 B O 1 2\n2222 0 0 300 7 T 1350 S O 1 2", 759, 591},
      {"2222 0 0 0 7 F 1050 S O 1 2\n6666 0 0 300 7 T 1050 B O 1 2", 591, 759},
      // Amounts beyond 32 bits, and shares beyond 2^53 and near 2^60, where a double is off.
      {"1111 0 0 2147483647 7 F 0 S O 1 2\n1111 0 0 2147483647 7 F 0 S O 1 2", 4294969394, 0},
      {"6666 0 0 2147483647 7 T 2147483647 B O 1 2", -715827882, 2863311529},
      {"3333 0 700 0 7 F 2147483647 S I 1 2", 1073741998, 1073742349},
      {"1111 0 0 -2147483648 7 T 0 S O 1 2", -2147483648, 0},
      {"6666 0 0 189812531 7 T -94906265 B O 1 2", -9007199136250225, 9007199326062756},
      {"6666 0 0 0 7 T 379625063 B O 1 2", -189812531, 189812531},
      {"6666 0 0 2147483647 7 T -1073741824 B O 1 2", 1152921504606846976, -1152921502459363329},
      // Whole records: apart by any blanks, over lines, with signs, leading zeros, each limit.
      {g + "\n \n\t\n\n", 1250, 0},
      {"3333\t0\v0\f200\n7\r\nF 1250\n\nS O 1 2", 1250, 0},
      {"+6666 -0 +0 -300 7 F +5 B O -1 +2\n", 0, 750},
      {"-2147483648 2147483647 600 -2147483648 2147483647 T 2147483647 S O -9223372036854775808 "
       "9223372036854775807",
       -2147482640, 642},
      {"0006666 0 0 " + std::string(70000, '0') + "300 7 F 0 B O 1 2", 0, 1350},
      {g + spread + g, 3750, 0},
      {g + padded + g, 3750, 0},
      // Each kind of damage costs only its record; the reading goes on at the next line.
      {g + "3333 0 0 200 7 F 1250 S O 1 \n", 1250, 0, {{2, 30}}},
      damaged("3333 0 0 200x 7 F 1250 S O 1 2\n"),
      damaged("3333 0 0 - 7 F 1250 S O 1 2\n"),
      damaged("3333 0 0 +-5 7 F 1250 S O 1 2\n"),
      damaged("2147483648 0 0 0 7 F 0 S O 1 2\n"),
      damaged("3333 0 0 -2147483649 7 F 0 S O 1 2\n"),
      damaged("3333 0 0 0 7 F 0 S O 1 9223372036854775808\n"),
      damaged("3333 0 0 0 7 F 0 S O 1 0" + std::string(30, '9') + "\n"),
      damaged("3333 0 0 200 7 FT 1250 S O 1 2\n"),
      damaged("3333 0 0 200 7 F 1250 S7 O 1 2\n"),  // a letter run on with digits
      damaged("3333 0 0 200 7 F1250 S O 1 2 3\n"),
      damaged(std::string("3333 0 0 2\0 7 F 0 S O 1 2\n", 26)),
      {g + "3333 0 0 " + std::string(300, '7'), 1250, 0, {{2, 30}}},
      {"1 2 3 4 5 F 6 S I 7\nx\n" + g, 1250, 0, {{1, 0}, {2, 20}}},
      {"3333 0 x " + g + g, 1250, 0, {{1, 0}}},
      {"x" + std::string(300, ' ') + g + g, 1250, 0, {{1, 0}}},
      {spread + "7 x\n" + g, 2500, 0, {{70002, 70030}}},
      {g + "\n\n " + padded.substr(0, padded.size() - 3) + "x y\n" + g,
       2500,
       0,
       {{4, 33}, {5, 1000047}}},
  };
}

// One day of card 42: an ordinary subway ride from station 1 to station 3 (fee 200), then a bus
// ride and a transfer from station 4 to station 5 (fee 300). Station 2 served no one.
inline const std::map<std::string, std::string> kExampleLogs = {
    {"1111.txt", "1111 1050 0 0 42 F 0 S I 1433851200 201569120\n"},
    {"2222.txt", ""},
    {"3333.txt", "3333 0 0 200 42 F 1250 S O 1433852400 2015691220\n"},
    {"4444.txt", "4444 0 0 0 42 T 1050 B I 1433855710 2015691315\n"},
    {"5555.txt", "5555 0 0 300 42 T 1350 S O 1433856600 2015691330\n"},
    {"6666.txt",
     "6666 1050 0 0 42 F 1250 S I 1433854800 201569130\n"
     "6666 0 0 0 42 F 1050 B O 1433855700 2015691315\n"},
};

// Random trips, each line through |put|, and what they are worth to each operator, worked out
// here trip by trip in whole numbers (settle works it out pass by pass).
struct TripLogs {
  std::function<void(int log, const char* line)> put;  // log 0 is 1111.txt, 5 is 6666.txt
  std::mt19937 random;
  std::int64_t subway = 0, bus = 0, additional_sum = 0;
  std::size_t written = 0;

  void Add(int term, int missed, int additional, char transfer, int prev_fare, char in_out) {
    char line[128];
    std::snprintf(line, sizeof line, "%d %d %d %d 77 %c %d %c %c %zu 2015691405\n", term,
                  in_out == 'I' ? 1050 : 0, missed, additional, transfer, prev_fare,
                  term == 6666 ? 'B' : 'S', in_out, 1433858700 + written++);
    additional_sum += additional;
    put(term / 1111 - 1, line);
  }
  // The bus takes ceil(T * W / D - 1/2) of the trip amount T, D being T + the first leg's fare.
  void Share(std::int64_t trip, std::int64_t weight, std::int64_t first) {
    const std::int64_t n = 2 * trip * weight - trip - first, d = 2 * (trip + first);
    const std::int64_t share = n >= 0 ? (n + d - 1) / d : -(-n / d);
    bus += share;
    subway += trip - share;
  }
  void Trip() {
    const auto pick = [this](unsigned n) { return static_cast<int>(random() % n); };
    const int station = 1111 * (1 + pick(5)), fee = 100 * pick(5), first = 1050 + 10 * pick(90);
    switch (pick(5)) {
      case 0:  // an ordinary subway ride
        Add(station, 0, 0, 'F', 0, 'I');
        Add(1111 * (1 + pick(5)), 0, fee, 'F', 1050 + fee, 'O');
        subway += 1050 + fee;
        break;
      case 1:  // a bus ride, then a subway transfer ride
        Add(6666, 0, 0, 'F', 0, 'I');
        Add(6666, 0, 0, 'F', 1050, 'O');
        Add(station, 0, 0, 'T', 1050, 'I');
        Add(station, 0, fee, 'T', 1050 + fee, 'O');
        Share(1050 + fee, 1050, 1050);
        break;
      case 2:  // a subway ride, then a bus transfer ride
        Add(station, 0, 0, 'F', 0, 'I');
        Add(station, 0, first - 1050, 'F', first, 'O');
        Add(6666, 0, 0, 'T', first, 'I');
        Add(6666, 0, fee, 'T', first, 'O');
        Share(first + fee, first + fee, first);
        break;
      case 3:  // a get-on with the surcharge of a subway ride never tagged off
        Add(station, 200, 0, 'F', 1250, 'I');
        subway += 1250;
        break;
      default:  // the same for a transfer ride, by subway or by bus
        if (pick(2) == 0) Add(station, 600, 0, 'F', 1650, 'I'), Share(1650, 1050, 1050);
        if (pick(2) == 0)
          Add(6666, 700, 0, 'F', first, 'I'), Share(first + 700, first + 700, first);
    }
  }
};
