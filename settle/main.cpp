#include <cstdio>

#include "CardCommit.h"
#include "DataFiles.h"
#include "ProgramOptions.h"
#include "Settle.h"

// Without arguments the exit status is 0 in every case; every outcome is told on the console.
int main(int argc, char* argv[]) {
  HandleProgramOptions(argc, argv, "settle",
                       "Splits the income of the six terminal logs between subway and bus.");
  // The logs are read under the card lock, after a tag that a crash cut off has been completed,
  // so no tag is ever seen half written. Should that tag be beyond completing, the logs cannot
  // be settled as they stand.
  const int lock = LockCard();
  if (lock >= 0) {
    DBRead();
  } else {
    std::printf("Cannot find DB!\n");
  }
  UnlockFile(lock);
  if (std::fflush(stdout) != 0) ReportFileError("standard output");
  return 0;
}
