// SPDX-License-Identifier: Apache-2.0
// The settlement benchmark's two halves: a data directory full of generated logs, and a timed
// run of a real program in it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct BenchLogs {
  std::string root;                 // the data directory D; programs run in D/a/b
  std::int64_t overall_fee = 0;     // the Overall Fee settle must print for these logs
  std::int64_t additional_sum = 0;  // the sum of the fourth field, what awk must print
};

// Writes |entries| log entries, spread over the six logs as a busy day of rides would leave
// them, into a new temporary data directory. Ends the process on any failure.
BenchLogs WriteBenchLogs(std::size_t entries);

// Removes the data directory and everything in it.
void RemoveBenchLogs(const BenchLogs& logs);

struct ChildRun {
  double seconds = 0;      // wall time from fork to the end of the child
  double cpu_seconds = 0;  // the child's own user and system time
  long peak_rss_kib = 0;   // the child's own peak resident set (wait4)
  int status = -1;         // exit status, or -1 when it did not exit normally
};

// The time from the start of |terminal| in |workdir| (terminal 1 chosen) to its tag menu, in
// milliseconds: alone when |settle| is empty, otherwise started as soon as a run of |settle|
// there has its logs open, so that it needs the card lock while settle reads. Negative when a
// program failed, or when settle was done before the menu showed (the figure would not be one
// beside it). Stops both programs before it returns.
double TerminalStart(const std::string& terminal, const std::string& settle,
                     const std::string& workdir);

// Runs |argv| (argv[0] is the program path, looked up in PATH) in |workdir| with standard
// output to |out_path| and standard error discarded, and waits for it. |processors| above 0
// confines the program to that many of the processors this process may use.
ChildRun RunChild(const std::vector<std::string>& argv, const std::string& workdir,
                  const std::string& out_path, int processors = 0);
