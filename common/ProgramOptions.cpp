// SPDX-License-Identifier: Apache-2.0
#include "ProgramOptions.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>

#include "DataFiles.h"

#ifndef FARE_VERSION
#error "FARE_VERSION must be the project version"
#endif
#ifndef FARE_COPYRIGHT
#error "FARE_COPYRIGHT must be the year and the holder of the copyright"
#endif

namespace {

// The directory DataPath puts the files in, by a name that holds whatever the working
// directory: absolute, its links resolved as far as it exists.
std::string DataDirectoryInUse() {
  std::string dir = DataPath("");
  if (dir.size() > 1) dir.pop_back();  // the slash DataPath ends it with
  std::error_code error;
  std::filesystem::path resolved = std::filesystem::absolute(dir, error);
  if (!error) resolved = std::filesystem::weakly_canonical(resolved, error);
  return error ? dir : resolved.string();
}

// What chose that directory: FARE_DATA_DIR, or the built-in default, which a build from the
// source takes relative to the working directory.
std::string DataDirectoryOrigin() {
  const DataDirectory chosen = ChosenDataDirectory();
  if (chosen.from_environment) return "set by FARE_DATA_DIR=" + chosen.name;
  const std::string default_dir = DataPath("");
  if (default_dir.front() == '/') return "the default; FARE_DATA_DIR names another";
  return "the default: " + default_dir + " of the working directory; FARE_DATA_DIR names another";
}

void PrintUsage(const char* program, const char* summary, const char* option,
                const char* option_help) {
  std::printf("Usage: %s [%s%s--help | --version]\n%s\n\nData directory: %s\n  (%s)\n\n", program,
              option != nullptr ? option : "", option != nullptr ? " | " : "", summary,
              DataDirectoryInUse().c_str(), DataDirectoryOrigin().c_str());
  if (option != nullptr) std::printf("      %s  %s\n", option, option_help);
  std::printf(
      "  -h, --help     print this help and exit\n"
      "      --version  print the version and exit\n"
      "\n"
      "See %s(1) and fare-files(5).\n",
      program);
}

void PrintVersion(const char* program) {
  std::printf(
      "%s (farecard) %s\n"
      "Copyright (C) %s\n"
      "License Apache-2.0: Apache License, Version 2.0 "
      "<https://www.apache.org/licenses/LICENSE-2.0>.\n"
      "This is free software: you are free to change and redistribute it.\n"
      "There is NO WARRANTY, to the extent permitted by law.\n",
      program, FARE_VERSION, FARE_COPYRIGHT);
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

[[noreturn]] void Refuse(const char* program, const std::string& reason) {
  std::fflush(stdout);
  std::fprintf(stderr, "%s: %s\nTry '%s --help' for more information.\n", program, reason.c_str(),
               program);
  std::exit(2);
}

}  // namespace

bool HandleProgramOptions(int argc, char* argv[], const char* program, const char* summary,
                          const char* option, const char* option_help) {
  if (argc <= 1) return false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view argument = argv[i];
    if (argument == "--help" || argument == "-h") {
      PrintUsage(program, summary, option, option_help);
      Finish();
    }
    if (argument == "--version") {
      PrintVersion(program);
      Finish();
    }
    // An option is judged where it stands, as getopt does; the other words only in the end.
    if (argument.size() > 1 && argument.front() == '-' &&
        (option == nullptr || argument != option)) {
      Refuse(program, "unknown argument '" + std::string(argument) + "'");
    }
  }
  if (argc == 2 && option != nullptr && std::string_view(argv[1]) == option) return true;
  Refuse(program, argc == 2 ? "unknown argument '" + std::string(argv[1]) + "'"
                            : std::string("too many arguments"));
}
