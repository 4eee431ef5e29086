#include <cstdio>

#include "DataFiles.h"
#include "Settle.h"

// The exit status is 0 in every case; every outcome is told on the console.
int main() {
  DBRead();
  if (std::fflush(stdout) != 0) ReportFileError("standard output");
  return 0;
}
