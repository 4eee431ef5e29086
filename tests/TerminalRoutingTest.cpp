// SPDX-License-Identifier: Apache-2.0
// Every row of the get-on and get-off decisions and every fee of the fare rules, each run as a
// real tag: card before, terminal, seconds since the previous tag; then the charge shown, the
// card file and the log line it leaves.
#include <gtest/gtest.h>

#include "LogFile.h"
#include "TerminalTag.h"

namespace {

constexpr int kOn = 1;
constexpr int kOff = 2;

struct Row {
  const char* name;
  // The card before: direction, vehicle and transfer flag of the last tag, and its terminal.
  char in_out;
  char vehicle;
  char transfer;
  std::int32_t from;
  // This tag.
  std::int32_t here;
  std::int64_t seconds;
  int choice;
  // The fee charged (base, missed-off, additional) and the card fields the routing sets.
  Fee fee;
  char transfer_after;
  std::int32_t prev_fare_after;
  char prev_vehicle_after;
  bool complete_line;  // "BalanceCheck Complete." after the block
};

// The card file and log line an accepted |row| must leave behind.
Card ExpectedCard(const Row& row, std::int32_t balance_before) {
  Card card = TestCard('?', '?', row.transfer_after, row.here);
  card.tagTime = kCardTime + row.seconds;
  card.vehicle = row.here == 6666 ? 'B' : 'S';
  card.inOut = row.fee.direction;
  card.fee = row.fee;
  card.balance = balance_before - row.fee.baseFee - row.fee.missedOffFee - row.fee.additionalFee;
  card.prevFare = row.prev_fare_after;
  card.prevVehicle = row.prev_vehicle_after;
  return card;
}

std::string ExpectedLogLine(const Card& card) {
  return FormatLogLine(ToLogEntry(card, card.termId));
}

void CheckAccepted(const Row& row) {
  SCOPED_TRACE(row.name);
  DataDir dir;
  const Card before = TestCard(row.in_out, row.vehicle, row.transfer, row.from);
  const TagResult result = Tag(dir, before, row.here, row.seconds, row.choice);
  const Card after = ExpectedCard(row, before.balance);
  const std::int32_t charge = before.balance - after.balance;
  EXPECT_EQ(result.out, ChargedBlock(charge, after.balance) +
                            (row.complete_line ? "BalanceCheck Complete.\n" : ""));
  EXPECT_EQ(result.card, FormatCardLine(after));
  EXPECT_EQ(result.log, ExpectedLogLine(after));
}

TEST(TerminalRouting, GetOn) {
  const Row rows[] = {
      {"unfinished bus transfer ride",
       'I',
       'B',
       'T',
       6666,
       1111,
       100,
       kOn,
       {1050, 700, 0, 'I'},
       'F',
       777,
       'B',
       false},
      {"unfinished ordinary bus ride",
       'I',
       'B',
       'F',
       6666,
       1111,
       100,
       kOn,
       {1050, 0, 0, 'I'},
       'F',
       1050,
       'B',
       false},
      {"unfinished subway transfer ride",
       'I',
       'S',
       'T',
       2222,
       6666,
       100,
       kOn,
       {1050, 600, 0, 'I'},
       'F',
       777,
       'S',
       true},
      {"unfinished ordinary subway ride",
       'I',
       'S',
       'F',
       2222,
       3333,
       100,
       kOn,
       {1050, 200, 0, 'I'},
       'F',
       777,
       'S',
       true},
      {"unfinished subway ride, odd transfer flag",
       'I',
       'S',
       'x',
       2222,
       3333,
       100,
       kOn,
       {1050, 200, 0, 'I'},
       'F',
       777,
       'S',
       true},
      {"same kind as the get-off, within the window",
       'O',
       'S',
       'F',
       2222,
       4444,
       5,
       kOn,
       {1050, 0, 0, 'I'},
       'F',
       1050,
       'S',
       false},
      {"other kind, 15 s after",
       'O',
       'S',
       'F',
       1111,
       6666,
       15,
       kOn,
       {0, 0, 0, 'I'},
       'T',
       777,
       'Z',
       false},
      {"other kind, 16 s after",
       'O',
       'S',
       'F',
       1111,
       6666,
       16,
       kOn,
       {1050, 0, 0, 'I'},
       'F',
       1050,
       'S',
       false},
      {"other kind, clock set back",
       'O',
       'B',
       'F',
       6666,
       2222,
       -100,
       kOn,
       {0, 0, 0, 'I'},
       'T',
       777,
       'Z',
       false},
      {"transfers chain", 'O', 'B', 'T', 6666, 3333, 3, kOn, {0, 0, 0, 'I'}, 'T', 777, 'Z', false},
      {"after a transfer ride, same kind",
       'O',
       'S',
       'T',
       2222,
       3333,
       3,
       kOn,
       {1050, 0, 0, 'I'},
       'F',
       1050,
       'S',
       false},
  };
  for (const Row& row : rows) CheckAccepted(row);
}

TEST(TerminalRouting, TransferGetOffAtTheBusStationByRideTime) {
  const std::int64_t rides[][2] = {{-5, 0},    {0, 0},     {29, 0},     {30, 100},
                                   {59, 100},  {60, 200},  {119, 300},  {150, 500},
                                   {209, 600}, {210, 700}, {3600, 700}, {1LL << 31, 700}};
  for (const auto& [seconds, fee] : rides) {
    const Row row{
        "transfer ride to the bus station",          'I', 'S', 'T', 1111, 6666, seconds, kOff,
        {0, 0, static_cast<std::int32_t>(fee), 'O'}, 'T', 777, 'B', false};
    SCOPED_TRACE(seconds);
    CheckAccepted(row);
  }
}

TEST(TerminalRouting, GetOffAtASubwayStationByStationCount) {
  struct Trip {
    std::int32_t from, here, transfer_fee, ordinary_fee;
  } trips[] = {
      {1111, 2222, 300, 0},   {2222, 1111, 600, 200}, {5555, 1111, 300, 0}, {1111, 3333, 600, 200},
      {3333, 3333, 0, 0},     {1111, 5555, 600, 200}, {4444, 5555, 300, 0}, {6666, 2222, 300, 0},
      {6666, 1111, 600, 200}, {6666, 5555, 600, 200},
  };
  for (const Trip& trip : trips) {
    SCOPED_TRACE(std::to_string(trip.from) + " -> " + std::to_string(trip.here));
    CheckAccepted({"transfer ride",
                   'I',
                   'B',
                   'T',
                   trip.from,
                   trip.here,
                   40,
                   kOff,
                   {0, 0, trip.transfer_fee, 'O'},
                   'T',
                   777,
                   'S',
                   false});
    CheckAccepted({"ordinary ride",
                   'I',
                   'S',
                   'F',
                   trip.from,
                   trip.here,
                   40,
                   kOff,
                   {0, 0, trip.ordinary_fee, 'O'},
                   'F',
                   1050 + trip.ordinary_fee,
                   'Z',
                   false});
  }
}

TEST(TerminalRouting, OtherGetOffs) {
  const Row rows[] = {
      {"ordinary ride to the bus station, any length",
       'I',
       'S',
       'F',
       1111,
       6666,
       100000,
       kOff,
       {0, 0, 0, 'O'},
       'F',
       1050,
       'Z',
       false},
      {"second get-off counts from the first",
       'O',
       'S',
       'F',
       1111,
       3333,
       10,
       kOff,
       {0, 0, 200, 'O'},
       'F',
       1250,
       'Z',
       false},
      {"second get-off at the same station",
       'O',
       'S',
       'T',
       2222,
       2222,
       10,
       kOff,
       {0, 0, 0, 'O'},
       'T',
       777,
       'S',
       false},
      {"terminal ID that names no station counts as subway",
       'I',
       'S',
       'F',
       1000,
       3333,
       10,
       kOff,
       {0, 0, 200, 'O'},
       'F',
       1250,
       'Z',
       false},
      {"hand-edited terminal ID at the edge of the range",
       'I',
       'S',
       'F',
       INT32_MIN,
       1111,
       10,
       kOff,
       {0, 0, 200, 'O'},
       'F',
       1250,
       'Z',
       false},
  };
  for (const Row& row : rows) CheckAccepted(row);
}

TEST(TerminalRouting, ValuesTheSystemNeverWritesEndTheTagSilently) {
  struct Case {
    const char* name;
    Card card;
    int choice;
  } cases[] = {
      {"direction neither I nor O", TestCard('X', 'S', 'F', 1111), kOn},
      {"unfinished ride on an unknown vehicle", TestCard('I', 'X', 'F', 1111), kOn},
      {"get-off with a transfer flag neither T nor F", TestCard('I', 'S', 'x', 1111), kOff},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    DataDir dir;
    const TagResult result = Tag(dir, c.card, 3333, 10, c.choice);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.card, FormatCardLine(c.card));
    EXPECT_EQ(result.log, "<missing>");
  }
}

TEST(TerminalRouting, CorruptedTimeStampsDoNotWrapAround) {
  // A ride that began at the earliest representable time: the seconds since then overflow 64
  // bits and must count as a very long time, not as a negative one.
  DataDir dir;
  Card on = TestCard('O', 'B', 'F', 6666);
  on.tagTime = INT64_MIN;
  EXPECT_EQ(TagAt(dir, on, 1111, kCardTime, 1).out, ChargedBlock(1050, 8950));
  Card off = TestCard('I', 'S', 'T', 1111);
  off.tagTime = INT64_MIN;
  EXPECT_EQ(TagAt(dir, off, 6666, kCardTime, 2).out, ChargedBlock(700, 9300));
}

}  // namespace
