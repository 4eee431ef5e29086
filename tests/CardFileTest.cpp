// SPDX-License-Identifier: Apache-2.0
// The card file: its exact bytes, the round trip of every field, damaged files, failed writes.
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include <gtest/gtest.h>

#include "BookFiles.h"
#include "Card.h"
#include "DataDir.h"

namespace {

Card ExampleCard() {
  Card card;
  card.cardId = 42;
  card.tagTime = 1401959220;  // 2014-06-05 09:07:00 UTC
  card.balance = 20000;
  return card;
}

// Runs |body| as a death test statement with standard output joined to standard error, so the
// expected console line can be matched.
#define EXPECT_EXITS_PRINTING(body, text) \
  EXPECT_EXIT(                            \
      {                                   \
        dup2(2, 1);                       \
        body;                             \
      },                                  \
      testing::ExitedWithCode(0), text)

TEST(CardFile, ExampleCardIsWrittenByteForByte) {
  DataDir dir;
  HeldBooks books = LockBooks(kCardBooks);
  ASSERT_TRUE(CardWriter(books, ExampleCard()));
  EXPECT_EQ(dir.Read("usercard.txt"), "42 S O 0 0 0 1111 F 20000 0 S 1401959220 20146597");
}

TEST(CardFile, FeeAmountsStandAsBaseAdditionalMissedOff) {
  Card card = ExampleCard();
  card.fee = Fee{1050, 700, 0, 'I'};
  EXPECT_EQ(FormatCardLine(card), "42 S O 1050 0 700 1111 F 20000 0 S 1401959220 20146597");
  const auto back = ParseCardLine(FormatCardLine(card));
  ASSERT_TRUE(back);
  EXPECT_EQ(back->fee.baseFee, 1050);
  EXPECT_EQ(back->fee.missedOffFee, 700);
  EXPECT_EQ(back->fee.additionalFee, 0);
}

TEST(CardFile, EveryFieldSurvivesTheRoundTrip) {
  const Card cards[] = {
      {7, 1400000000, 'B', 'I', {1050, 700, -1, 'I'}, 6666, 'T', -5, 1250, 'B'},
      {0, -1, 'S', 'O', {0, 0, 0, 'O'}, 1111, 'F', 0, 0, 'S'},
      {9999,
       INT64_MAX,
       'x',
       '?',
       {-2147483647 - 1, 2147483647, -1, 'O'},
       -3,
       'Q',
       2147483647,
       -2147483647 - 1,
       '#'},
  };
  DataDir dir;
  HeldBooks books = LockBooks(kCardBooks);
  for (const Card& card : cards) {
    SCOPED_TRACE(FormatCardLine(card));
    ASSERT_TRUE(CardWriter(books, card));
    const Card back = CardRead();
    EXPECT_EQ(back.cardId, card.cardId);
    EXPECT_EQ(back.tagTime, card.tagTime);
    EXPECT_EQ(back.vehicle, card.vehicle);
    EXPECT_EQ(back.inOut, card.inOut);
    EXPECT_EQ(back.fee.baseFee, card.fee.baseFee);
    EXPECT_EQ(back.fee.missedOffFee, card.fee.missedOffFee);
    EXPECT_EQ(back.fee.additionalFee, card.fee.additionalFee);
    EXPECT_EQ(back.termId, card.termId);
    EXPECT_EQ(back.transfer, card.transfer);
    EXPECT_EQ(back.balance, card.balance);
    EXPECT_EQ(back.prevFare, card.prevFare);
    EXPECT_EQ(back.prevVehicle, card.prevVehicle);
  }
}

TEST(CardFile, DateDigitsAreNotPadded) {
  struct Row {
    std::int64_t time;
    const char* digits;
  } rows[] = {
      {1414836300, " 2014111105"},    // 2014-11-01 10:05
      {1389434700, " 2014111105"},    // 2014-01-11 10:05
      {1388534400, " 20141100"},      // 2014-01-01 00:00
      {1419983940, " 201412302359"},  // 2014-12-30 23:59
  };
  for (const Row& row : rows) {
    Card card = ExampleCard();
    card.tagTime = row.time;
    const std::string line = FormatCardLine(card);
    SCOPED_TRACE(line);
    EXPECT_EQ(line.substr(line.rfind(' ')), row.digits);
  }
}

TEST(CardFile, ShorterRewriteLeavesNothingOfTheOldLine) {
  DataDir dir;
  HeldBooks books = LockBooks(kCardBooks);
  Card long_card = ExampleCard();
  long_card.balance = 10000000;
  long_card.fee = Fee{1050, 700, -1, 'I'};
  ASSERT_TRUE(CardWriter(books, long_card));
  Card short_card = ExampleCard();
  short_card.cardId = 1;
  short_card.balance = 0;
  ASSERT_TRUE(CardWriter(books, short_card));
  EXPECT_EQ(dir.Read("usercard.txt"), "1 S O 0 0 0 1111 F 0 0 S 1401959220 20146597");
}

TEST(CardFile, DamagedLinesAreRefused) {
  const char* lines[] = {
      "",
      "   \n",
      "42 S O 0 0 0 1111 F 20000 0 S",                      // cut short before tagTime
      "42 S O 0 0 0 1111 F 20000",                          // cut short in the middle
      "42 S O 0 0 0 1111 F 2oooo 0 S 1401959220",           // letters in a number
      "4x2 S O 0 0 0 1111 F 20000 0 S 1401959220",          // letters glued to a number
      "42 SS O 0 0 0 1111 F 20000 0 S 1401959220",          // two letters for one character
      "2147483648 S O 0 0 0 1111 F 20000 0 S 1401959220",   // card number beyond 32 bits
      "42 S O 0 0 0 1111 F 99999999999 0 S 1401959220",     // balance beyond 32 bits
      "42 S O 0 0 0 1111 F 20000 0 S 9223372036854775808",  // time beyond 64 bits
      "42 S O 0 0 0 1111 F 20000 0 S 14019.59220",
      "42 S O 0 0 0 1111 F +20000 0 S 1401959220",  // the writer never writes a plus sign
  };
  for (const char* line : lines) {
    SCOPED_TRACE(line);
    EXPECT_FALSE(ParseCardLine(line).has_value());
  }
}

TEST(CardFile, ToleratesWhatAHandEditMayAddAroundTheValues) {
  const auto card = ParseCardLine("  42\tS O 0 0 0 1111 F 20000 0 S 1401959220\n");
  ASSERT_TRUE(card);
  EXPECT_EQ(card->balance, 20000);
  EXPECT_TRUE(ParseCardLine("42 S O 0 0 0 1111 F 20000 0 S 1401959220").has_value());
}

TEST(CardFileDeathTest, MissingOrDamagedFileEndsWithFileReadError) {
  DataDir dir;
  EXPECT_EXITS_PRINTING(CardRead(), "^File Read Error.\n$");
  dir.Write("usercard.txt", "42 S O 0 0 0 1111 F");
  EXPECT_EXITS_PRINTING(CardRead(), "^File Read Error.\n$");
  dir.Write("usercard.txt", "");
  EXPECT_EXITS_PRINTING(CardRead(), "^File Read Error.\n$");
}

TEST(CardFile, FailedWriteKeepsTheOldCardAndLeavesNoTemporaryFile) {
  DataDir dir;
  HeldBooks books = LockBooks(kCardBooks);
  std::filesystem::create_directory(dir.Path("usercard.txt"));  // rename over it must fail
  testing::internal::CaptureStderr();
  EXPECT_FALSE(CardWriter(books, ExampleCard()));
  const std::string detail = testing::internal::GetCapturedStderr();
  EXPECT_NE(detail.find("usercard.txt"), std::string::npos) << detail;
  EXPECT_TRUE(std::filesystem::is_directory(dir.Path("usercard.txt")));
  for (const auto& entry : std::filesystem::directory_iterator(dir.root())) {
    EXPECT_FALSE(entry.path().string().ends_with(".farecard-new")) << entry.path();
  }
}

// The card is replaced as a careful program replaces a file: the umask rules a new card, an old
// card keeps its mode, and a card reached through a symbolic link stays a link.
TEST(CardFile, ReplacedCardKeepsItsModeAndItsLink) {
  namespace fs = std::filesystem;
  const auto mode = [](const std::string& path) {
    struct stat info {};
    stat(path.c_str(), &info);
    return info.st_mode & 07777;
  };
  {
    DataDir dir;
    HeldBooks books = LockBooks(kCardBooks);
    const mode_t old_mask = umask(077);
    ASSERT_TRUE(CardWriter(books, ExampleCard()));
    umask(old_mask);
    EXPECT_EQ(mode(dir.Path("usercard.txt")), 0600u);
  }
  {
    DataDir dir;
    HeldBooks books = LockBooks(kCardBooks);
    dir.Write("usercard.txt", "old");
    chmod(dir.Path("usercard.txt").c_str(), 0640);
    ASSERT_TRUE(CardWriter(books, ExampleCard()));
    EXPECT_EQ(mode(dir.Path("usercard.txt")), 0640u);
  }
  {
    DataDir dir;
    HeldBooks books = LockBooks(kCardBooks);
    fs::create_directory(dir.Path("cards"));
    dir.Write("cards/mine.txt", "old");
    fs::create_symlink("cards/mine.txt", dir.Path("usercard.txt"));
    ASSERT_TRUE(CardWriter(books, ExampleCard()));
    EXPECT_TRUE(fs::is_symlink(dir.Path("usercard.txt")));
    EXPECT_EQ(dir.Read("cards/mine.txt"), FormatCardLine(ExampleCard()));
  }
}

}  // namespace
