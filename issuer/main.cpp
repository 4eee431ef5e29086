// SPDX-License-Identifier: Apache-2.0
#include "ProgramOptions.h"
#include "issuer.h"

int main(int argc, char* argv[]) {
  HandleProgramOptions(argc, argv, "issuer",
                       "Issues the fare card: asks for its number and opening balance.");
  Issuer();
}
