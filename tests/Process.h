// SPDX-License-Identifier: Apache-2.0
// Runs a real program of the system for an end-to-end test: in a chosen working directory,
// with scripted standard input, its output captured, its clock optionally set by libfaketime
// from a file, and the time zone fixed to UTC. Every wait is bounded, so a hung program fails
// the test instead of hanging the suite.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// A frozen clock for the programs under test, read from a file at each clock call.
class ClockFile {
 public:
  explicit ClockFile(std::string path);
  const std::string& path() const { return path_; }
  // Freezes the programs' clock at |seconds| since the epoch (UTC).
  void Set(std::int64_t seconds) const;

 private:
  std::string path_;
};

struct ProcessOptions {
  std::string workdir;
  const ClockFile* clock = nullptr;       // nullptr: the real clock
  std::vector<std::string> env;           // extra "NAME=value" entries
  std::vector<std::string> wrapper = {};  // a program to run it under, with its arguments, if any
};

class Process {
 public:
  Process(const std::string& program, const ProcessOptions& options);
  ~Process();
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;

  pid_t pid() const { return pid_; }
  void Write(std::string_view text);
  void CloseInput();
  // From now on nobody reads its standard output: the pipe fills and its writes block, as at a
  // console that stopped reading.
  void StallOutput() { stalled_ = true; }
  // Closes the reading end of its standard output, as when a console goes away.
  void CloseOutput();
  // Waits until standard output holds |text| at or after |from|; false after |timeout|.
  bool WaitForOutput(std::string_view text, std::size_t from = 0,
                     std::chrono::milliseconds timeout = std::chrono::seconds(20));
  // Waits until standard output holds |text| at least |count| times; false after |timeout|.
  bool WaitForCount(std::string_view text, std::size_t count,
                    std::chrono::milliseconds timeout = std::chrono::seconds(30));
  void Signal(int sig);
  // Waits for the end; returns the exit status, or 128 + signal. Kills the program and
  // returns -1 after |timeout|.
  int Wait(std::chrono::milliseconds timeout = std::chrono::seconds(30));

  const std::string& out() const { return out_; }
  const std::string& err() const { return err_; }

 private:
  bool Pump(int timeout_ms);  // reads what is ready; false once both pipes are closed

  pid_t pid_ = -1;
  int in_ = -1, out_fd_ = -1, err_fd_ = -1;
  int status_ = -1;
  bool stalled_ = false;
  std::string out_, err_;
};

struct RunResult {
  std::string out;
  std::string err;
  int status = -1;
};

// Starts |program|, feeds it |input| and end of input, and waits for its end.
RunResult RunProgram(const std::string& program, std::string_view input,
                     const ProcessOptions& options);
