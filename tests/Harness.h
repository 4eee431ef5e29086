// SPDX-License-Identifier: Apache-2.0
// What the tests and the benchmarks drive the system with: a temporary data directory, the real
// programs run with a frozen clock and every wait bounded, and the books read back from outside.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "Card.h"

// A temporary data directory D: the working directory becomes D/a/b, so that every "../../"
// path of the programs lands in D. Removed again, the old working directory back, at its end.
class DataDir {
 public:
  DataDir();
  ~DataDir();
  DataDir(const DataDir&) = delete;
  const std::string& root() const { return root_; }     // D
  const std::string& workdir() const { return work_; }  // D/a/b
  std::string Path(std::string_view name) const;        // D/name
  std::string Read(std::string_view name) const;        // "<missing>" when there is none
  void Write(std::string_view name, std::string_view bytes) const;
  bool Exists(std::string_view name) const;

 private:
  std::string root_, work_, old_cwd_;
};

// A frozen clock for the programs, read by libfaketime from a file at every clock call.
struct ClockFile {
  const std::string& path() const { return path_; }
  void Set(std::int64_t seconds) const;  // freezes it at |seconds| (UTC)
  std::string path_;
};

struct ProcessOptions {
  std::string workdir;
  const ClockFile* clock = nullptr;       // nullptr: the real clock
  std::vector<std::string> env = {};      // extra "NAME=value" entries; TZ is UTC
  std::vector<std::string> wrapper = {};  // a program to run it under, with its arguments
};

// A real program of the system in its own process group, standard input scripted and its
// output captured. Every wait is bounded: a hung program fails a test instead of hanging it.
class Process {
 public:
  Process(const std::string& program, const ProcessOptions& options);
  ~Process();  // kills the group when it has not been waited for
  Process(const Process&) = delete;
  pid_t pid() const { return pid_; }
  void Write(std::string_view text);
  void CloseInput();
  void StallOutput() { stalled_ = true; }  // nobody reads its output from now on: writes block
  void CloseOutput();                      // as a console that went away
  // Whether standard output holds |text| |count| times at or after |from|, within |timeout|.
  bool WaitForOutput(std::string_view text, std::size_t from = 0,
                     std::chrono::milliseconds timeout = std::chrono::seconds(20),
                     std::size_t count = 1);
  bool WaitForCount(std::string_view text, std::size_t count,
                    std::chrono::milliseconds timeout = std::chrono::seconds(30)) {
    return WaitForOutput(text, 0, timeout, count);
  }
  void Signal(int sig);
  // The exit status, or 128 + the signal; -1, the group killed, after |timeout|.
  int Wait(std::chrono::milliseconds timeout = std::chrono::seconds(30));
  const std::string& out() const { return out_; }
  const std::string& err() const { return err_; }

 private:
  bool Pump();  // reads what is ready within 20 ms; false once both pipes are closed
  pid_t pid_ = -1;
  int in_ = -1, out_fd_ = -1, err_fd_ = -1, status_ = -1;
  bool stalled_ = false;
  std::string out_, err_;
};

struct RunResult {
  std::string out, err;
  int status = -1;
};
// Starts |program|, feeds it |input| and end of input, and waits for its end.
RunResult RunProgram(const std::string& program, std::string_view input,
                     const ProcessOptions& options);

// A data directory with the card of kCardLine and the programs' clock frozen at kStart.
struct Station {
  DataDir dir;
  ClockFile clock{dir.Path("clock")};
  Station();
  ProcessOptions Options() const { return {dir.workdir(), &clock}; }
};

inline constexpr std::int64_t kStart = 1417849509;             // 2014-12-06 07:05:09 UTC
inline constexpr const char* kDateLine = "2014-12-6 7:5:9\n";  // the tag menu's date at kStart
inline constexpr std::int64_t kServicePeriod = 180;
inline constexpr const char* kSelection =
    "Select Terminal\n1.Subway - Daepyeong University\n2.Subway - Wangsimni\n"
    "3.Subway - Hapjeong\n4.Subway - Sillim\n5.Subway - Gangnam\n6.Bus Station\n>> ";
inline constexpr const char* kMenu =
    "-------------\n| 1.Get on  |\n| 2.Get off |\n-------------\n>> ";
inline constexpr const char* kPeriodOver = "3 minutes over!\n";
inline constexpr const char* kChargedLine = "Tagging is processed competely.";
inline constexpr const char* kIdPrompt = "Input Card's ID(0000~9999) : ";
inline constexpr const char* kBalancePrompt = "Input Card's Balance(0~10000000) : ";
// An ordinary card 42 with 20000 won, last tagged off at subway station 1 at 07:05:00; one with
// room for thousands of tags, for the tests that tag as fast as they can.
inline constexpr const char* kCardLine = "42 S O 0 0 0 1111 F 20000 0 S 1417849500 201412675";
inline constexpr std::int32_t kOpening = 10000000;
inline constexpr const char* kOpeningCard = "42 S O 0 0 0 1111 F 10000000 0 S 1417849500 201412675";

// Charged tags and the sum of their charges: the lines of a log of terminal |term_id| on card
// 42, with the first thing wrong with it (a torn or malformed line, another terminal or card);
// or the result blocks a terminal's output shows.
struct Tally {
  std::size_t tags = 0;
  std::int64_t charges = 0;
  std::string fault;
};
Tally CheckLog(std::string_view log, std::int32_t term_id);
Tally ShownCharges(std::string_view out);

// The card in |text| when it is one whole card line, byte for byte as the programs write it.
std::optional<Card> WholeCard(std::string_view text);
std::size_t CountOf(std::string_view text, std::string_view what);
std::string LogNameOf(int choice);  // "1111.txt" for menu number 1, and so on

// Probes of running programs.
std::string ProcFile(pid_t pid, const std::string& name);  // /proc/PID/NAME; /proc/NAME for 0
pid_t FirstChildOf(pid_t pid);                             // -1 when it has none
char StateOf(pid_t pid);                                   // of /proc/PID/stat; 0: none
inline bool IsRunning(pid_t pid) { return StateOf(pid) != 0 && StateOf(pid) != 'Z'; }
bool LockIsHeld(const std::string& path);     // takes and drops the lock when it is free
bool LockIsAwaited(const std::string& path);  // some process waits for it in flock
bool SignalIsPending(pid_t pid, int sig);     // held back for |pid|
bool GroupIsAlive(pid_t group);
// Waits, for a bounded time, until |done| holds.
template <typename Done>
bool WaitUntil(Done done) {
  for (int tries = 0; tries < 2000 && !done(); ++tries)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  return done();
}
