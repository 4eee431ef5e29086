// SPDX-License-Identifier: Apache-2.0
// One accepted tag, run in-process exactly as the tag menu runs it, against the floor that
// durable storage sets on the same disk: one card replaced and one log line appended, each
// made durable. Whatever a tag costs above that floor is the terminal's own doing.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "BenchSyncs.h"
#include "BookFiles.h"
#include "Card.h"
#include "Clock.h"
#include "DataFiles.h"
#include "LogEntry.h"
#include "LogFile.h"
#include "Tariff.h"
#include "Terminal.h"
#include "WhatTerm.h"

namespace {

namespace fs = std::filesystem;

// Enough for every get-on of a long run: a refused tag would measure the wrong path.
constexpr std::int32_t kHugeBalance = 2'000'000'000;

// A data directory D in the temporary directory, with D/a/b made so every "../../" path of the
// terminal lands in D. Removed at exit.
class BenchDir {
 public:
  BenchDir() {
    std::string pattern = (fs::temp_directory_path() / "terminal-bench-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
      std::perror("terminal_bench: mkdtemp");
      std::exit(1);
    }
    root_ = pattern;
    work_ = root_ / "a" / "b";
    fs::create_directories(work_);
  }
  ~BenchDir() {
    std::error_code ignored;
    fs::current_path(root_.parent_path(), ignored);
    fs::remove_all(root_, ignored);
  }
  BenchDir(const BenchDir&) = delete;
  BenchDir& operator=(const BenchDir&) = delete;

  // Makes D/a/b the working directory; the tag benchmarks call it first, since other
  // benchmarks of the same run may have moved elsewhere.
  void Enter() const { fs::current_path(work_); }

 private:
  fs::path root_;
  fs::path work_;
};

void EnterBenchDir() {
  static const BenchDir dir;
  dir.Enter();
}

// A card that has just got off at subway station 1: every get-on at the same station is then an
// ordinary ride at the base fare, every get-off there costs nothing more.
Card FreshCard() {
  Card card;
  card.cardId = 1;
  card.tagTime = CurrentTime();
  card.vehicle = 'S';
  card.inOut = 'O';
  card.termId = kFirstTermId;
  card.transfer = 'F';
  card.balance = kHugeBalance;
  card.prevFare = kBaseFare;
  card.prevVehicle = 'S';
  return card;
}

// Sends standard output to /dev/null while alive: the result block is printed for real, but a
// console's speed is not the terminal's. Flushes on both edges so no report of the benchmark
// library is lost and no tag output escapes.
class QuietStdout {
 public:
  QuietStdout() {
    std::fflush(stdout);
    saved_ = dup(STDOUT_FILENO);
    const int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (null >= 0) {
      dup2(null, STDOUT_FILENO);
      close(null);
    }
  }
  ~QuietStdout() {
    std::fflush(stdout);
    if (saved_ >= 0) {
      dup2(saved_, STDOUT_FILENO);
      close(saved_);
    }
  }
  QuietStdout(const QuietStdout&) = delete;
  QuietStdout& operator=(const QuietStdout&) = delete;

 private:
  int saved_ = -1;
};

std::int64_t CountLines(const std::string& path) {
  std::int64_t lines = 0;
  if (std::FILE* in = std::fopen(path.c_str(), "r")) {
    for (int c = std::getc(in); c != EOF; c = std::getc(in)) lines += c == '\n';
    std::fclose(in);
  }
  return lines;
}

// Whether |tags| alternating tags, get-on first, were all charged and logged: otherwise the time
// measured was that of a refusal or a failure.
bool AllTagsAccepted(std::int64_t tags, const std::string& log_path) {
  const auto text = ReadFilePrefix(DataPath(kCardFileName), kLongestCard);
  const auto card = text ? ParseCardLine(*text) : std::nullopt;
  const std::int64_t get_ons = (tags + 1) / 2;
  return card && card->balance == kHugeBalance - get_ons * kBaseFare &&
         CountLines(log_path) == tags;
}

// Lays out a card and an empty log at station 1, as a terminal's start leaves them.
bool StartAtStationOne() {
  WhatTerm = kFirstTermId;
  HeldBooks books = LockBooks(kCardBooks);
  const bool ok = Held(books) && CardWriter(books, FreshCard()) && DBInit(books);
  UnlockBooks(books);
  return ok;
}

// Alternating get-ons and get-offs, each as the menu takes it: under the card lock, which first
// brings the books up to the journal. Arg 1 makes every device flush free; the counter is the
// flushes per tag, checkpoints included.
void BM_Tag(benchmark::State& state) {
  EnterBenchDir();
  if (!StartAtStationOne()) {
    state.SkipWithError("cannot set up the card and the log");
    return;
  }
  MakeSyncsFree(state.range(0) == 1);
  const std::size_t syncs_before = SyncsAsked();
  std::int64_t tags = 0;
  {
    const QuietStdout quiet;
    for (auto _ : state) {
      HeldBooks books = LockBooks(kCardBooks);
      if (tags % 2 == 0) {
        OnSensorHandler(books);
      } else {
        OffSensorHandler(books);
      }
      UnlockBooks(books);
      ++tags;
    }
  }
  MakeSyncsFree(false);
  state.counters["syncs_per_tag"] =
      static_cast<double>(SyncsAsked() - syncs_before) / static_cast<double>(tags);
  if (!AllTagsAccepted(tags, DataPath(LogFileName(WhatTerm)))) {
    state.SkipWithError("a tag was not charged and logged");
  }
}

// The log line a get-on of FreshCard would append: the floor writes lines of the same length.
std::string TypicalLogLine() {
  const Card card = FreshCard();
  LogEntry entry;
  entry.termId = kFirstTermId;
  entry.baseFee = kBaseFare;
  entry.cardId = card.cardId;
  entry.transfer = card.transfer;
  entry.prevFare = card.prevFare;
  entry.prevVehicle = card.prevVehicle;
  entry.inOut = 'I';
  entry.tagTime = card.tagTime;
  return FormatLogLine(entry);
}

// The floor's atomic replace, as any careful program writes a small file: a temporary file in
// the same directory, synced, renamed over the target, and the directory synced.
bool ReplaceDurably(const std::string& path, const std::string& bytes) {
  const std::string temp = path + ".floor-tmp";
  const int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  const bool written = write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
  const bool synced = written && fsync(fd) == 0;
  if (close(fd) != 0 || !synced || rename(temp.c_str(), path.c_str()) != 0) return false;
  const std::string dir_path = path.substr(0, path.rfind('/') + 1);
  const int dir = open(dir_path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  const bool dir_synced = dir >= 0 && fsync(dir) == 0;
  if (dir >= 0) close(dir);
  return dir_synced;
}

void BM_DurableFloor(benchmark::State& state) {
  EnterBenchDir();
  const std::string card_path = DataPath("floor-card.txt");
  const std::string log_path = DataPath("floor-log.txt");
  const std::string card_line = FormatCardLine(FreshCard());
  const std::string log_line = TypicalLogLine();
  const int log = open(log_path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (log < 0) {
    state.SkipWithError("cannot open the floor log");
    return;
  }
  // The floor's durable append: one write at the end, flushed.
  const auto append = [&] {
    return write(log, log_line.data(), log_line.size()) == static_cast<ssize_t>(log_line.size()) &&
           fdatasync(log) == 0;
  };
  for (auto _ : state) {
    if (!ReplaceDurably(card_path, card_line) || !append()) {
      state.SkipWithError("a durable write failed");
      break;
    }
  }
  CloseFile(log);
}

// The least one durable write can cost on this disk: a block written over where it already
// stands, and flushed.
void BM_BlockOverwrite(benchmark::State& state) {
  EnterBenchDir();
  const std::string path = DataPath("floor-block");
  const std::string block(4096, 'b');
  const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0 || pwrite(fd, block.data(), block.size(), 0) != 4096 || fsync(fd) != 0) {
    state.SkipWithError("cannot write the block");
    CloseFile(fd);
    return;
  }
  for (auto _ : state) {
    if (pwrite(fd, block.data(), block.size(), 0) != 4096 || fdatasync(fd) != 0) {
      state.SkipWithError("a durable write failed");
      break;
    }
  }
  CloseFile(fd);
}

// Wall time is what a passenger waits; a flush spends it asleep, not on the CPU.
BENCHMARK(BM_Tag)
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMicrosecond)
    ->UseRealTime()
    ->Repetitions(10)
    ->ReportAggregatesOnly();
// The flushes of exactly a thousand tags, checkpoints included.
BENCHMARK(BM_Tag)->Name("BM_ThousandTags")->Arg(0)->Iterations(1000)->UseRealTime();
BENCHMARK(BM_DurableFloor)
    ->Unit(benchmark::kMicrosecond)
    ->UseRealTime()
    ->Repetitions(10)
    ->ReportAggregatesOnly();
BENCHMARK(BM_BlockOverwrite)
    ->Unit(benchmark::kMicrosecond)
    ->UseRealTime()
    ->Repetitions(10)
    ->ReportAggregatesOnly();

}  // namespace
