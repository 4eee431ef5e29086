// SPDX-License-Identifier: Apache-2.0
#include "ProgramOptions.h"

#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "DataFiles.h"

#ifndef FARE_VERSION
#error "FARE_VERSION must be the project version"
#endif
#ifndef FARE_COPYRIGHT
#error "FARE_COPYRIGHT must be the year and the holder of the copyright"
#endif

namespace {

// The data directory when FARE_DATA_DIR is unset, as DataPath takes it: an installed program
// is built with a fixed one, a build in the checkout uses the designed relative one.
#ifdef FARE_DEFAULT_DATA_DIR
constexpr const char* kDefaultDataDir = FARE_DEFAULT_DATA_DIR ".";
#else
constexpr const char* kDefaultDataDir = "../../ (relative to the working directory).";
#endif

void PrintUsage(const char* program, const char* summary) {
  std::printf(
      "Usage: %s [--help | --version]\n"
      "%s\n"
      "\n"
      "Keeps its files in the directory $FARE_DATA_DIR when that is set and not empty,\n"
      "otherwise in %s\n"
      "\n"
      "  --help     print this help and exit\n"
      "  --version  print the version and exit\n"
      "\n"
      "See %s(1) and fare-files(5).\n",
      program, summary, kDefaultDataDir, program);
}

// Help and version are the program's whole output: one that did not reach its reader is a
// failure, not a success.
[[noreturn]] void Finish() {
  if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) {
    ReportFileError("standard output");
    std::exit(1);
  }
  std::exit(0);
}

}  // namespace

void HandleProgramOptions(int argc, char* argv[], const char* program, const char* summary) {
  if (argc <= 1) return;
  const std::string_view option = argv[1];
  if (argc == 2 && option == "--help") {
    PrintUsage(program, summary);
    Finish();
  }
  if (argc == 2 && option == "--version") {
    std::printf(
        "%s (farecard) %s\n"
        "Copyright (C) %s\n"
        "License Apache-2.0: Apache License, Version 2.0 "
        "<https://www.apache.org/licenses/LICENSE-2.0>.\n"
        "This is free software: you are free to change and redistribute it.\n"
        "There is NO WARRANTY, to the extent permitted by law.\n",
        program, FARE_VERSION, FARE_COPYRIGHT);
    Finish();
  }
  std::fflush(stdout);
  if (argc == 2) {
    std::fprintf(stderr, "%s: unknown argument '%s'\n", program, argv[1]);
  } else {
    std::fprintf(stderr, "%s: too many arguments\n", program);
  }
  std::fprintf(stderr, "Try '%s --help' for more information.\n", program);
  std::exit(2);
}
