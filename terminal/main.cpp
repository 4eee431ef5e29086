// SPDX-License-Identifier: Apache-2.0
#include "ProgramOptions.h"
#include "Terminal.h"

int main(int argc, char* argv[]) {
  HandleProgramOptions(argc, argv, "terminal",
                       "Serves one tag reader for 180 seconds: a subway station or the bus.");
  initTerm();
  MainController();
  return 0;
}
