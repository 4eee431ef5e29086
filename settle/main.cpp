// SPDX-License-Identifier: Apache-2.0
#include <cstdio>

#include "DataFiles.h"
#include "ProgramOptions.h"
#include "Settle.h"

// Without arguments, or with --kept-runs, the exit status is 0 in every case; every outcome is
// told on the console.
int main(int argc, char* argv[]) {
  const bool kept_runs = HandleProgramOptions(
      argc, argv, "settle", "Splits the income of the six terminal logs between subway and bus.",
      "--kept-runs", "settle every kept run not yet settled instead, once");
  kept_runs ? SettleKeptRuns() : DBRead();
  if (std::fflush(stdout) != 0) ReportFileError("standard output");
  return 0;
}
