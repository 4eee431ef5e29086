// A crash at every moment of a tag: the crash seam ends the tag's process right after each of
// its durable steps and in the middle of each (half the bytes written), and recovery then runs
// as the next program's start runs it. The books must be exactly "tag done" or exactly "no tag".
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

#include <gtest/gtest.h>

#include "Card.h"
#include "CrashSeam.h"
#include "DataDir.h"
#include "DataFiles.h"
#include "FakeClock.h"
#include "Ledger.h"
#include "Terminal.h"
#include "TerminalTag.h"
#include "WhatTerm.h"

namespace {

constexpr std::int32_t kHere = 3333;
constexpr std::int64_t kNow = kCardTime + 40;
const std::string kEarlierLine = "3333 1050 0 0 42 F 1050 S I 1401959100 20146595\n";

struct Books {
  std::string card, log, record;
  bool operator==(const Books&) const = default;
};

Books Read(const DataDir& dir) {
  return {dir.Read("usercard.txt"), dir.Read("3333.txt"), dir.Read(kCommitRecordName)};
}

// Lays out the card and a log holding one earlier line.
void Prepare(const DataDir& dir, const Card& card) {
  ASSERT_TRUE(CardWriter(card));
  dir.Write("3333.txt", kEarlierLine);
  dir.Write(kCommitRecordName, "");
}

// Tags as the menu does, under the card lock, at kHere and kNow.
void TagUnderLock(int choice) {
  WhatTerm = kHere;
  SetCurrentTime(kNow);
  const int lock = LockCard();
  choice == 1 ? OnSensorHandler() : OffSensorHandler();
  UnlockFile(lock);
}

// The tag run whole in this process: the books it leaves and the number of its durable steps.
std::pair<Books, std::size_t> WholeTag(const Card& card, int choice) {
  DataDir dir;
  Prepare(dir, card);
  CrashAtStep(0, false);
  testing::internal::CaptureStdout();
  TagUnderLock(choice);
  testing::internal::GetCapturedStdout();
  return {Read(dir), DurableStepsTaken()};
}

// Runs the tag in a child that the seam ends at |step|; returns the child's exit status.
int CrashedTag(int choice, std::size_t step, bool torn) {
  std::fflush(stdout);
  const pid_t child = fork();
  if (child == 0) {
    std::freopen("/dev/null", "w", stdout);
    CrashAtStep(step, torn);
    TagUnderLock(choice);
    _exit(0);
  }
  int status = 0;
  waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(CrashPoint, EveryCrashLeavesTheTagWholeOrUndone) {
  struct Row {
    const char* name;
    Card card;
    int choice;
  } tags[] = {
      {"get-on", TestCard('O', 'S', 'F', 1111), 1},
      {"get-off", TestCard('I', 'S', 'F', 1111), 2},
  };
  for (Row& tag : tags) {
    tag.card.prevVehicle = 'S';  // a letter a log line may carry
    const auto [done, steps] = WholeTag(tag.card, tag.choice);
    ASSERT_EQ(steps, 4u) << tag.name << ": record, card, log line, clearing the record";
    for (std::size_t step = 1; step <= steps; ++step) {
      for (const bool torn : {false, true}) {
        SCOPED_TRACE(std::string(tag.name) + ", step " + std::to_string(step) +
                     (torn ? " torn" : " whole"));
        DataDir dir;
        Prepare(dir, tag.card);
        const Books before = Read(dir);
        ASSERT_EQ(CrashedTag(tag.choice, step, torn), kCrashedStatus);
        UnlockFile(LockCard());  // what every program does first
        const Books after = Read(dir);
        // Only a record that never became whole leaves the tag undone.
        EXPECT_EQ(after, step == 1 && torn ? before : done);
        const auto card = ParseCardLine(after.card);
        const LogCheck log = CheckLog(after.log, kHere, 42);
        ASSERT_TRUE(card);
        EXPECT_EQ(log.fault, "");
        EXPECT_EQ(tag.card.balance - card->balance, log.charges - 1050) << "the ledger";
      }
    }
  }
}

}  // namespace
