#include "ProgramOptions.h"

#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "DataFiles.h"

#ifndef FARE_VERSION
#error "FARE_VERSION must be the project version"
#endif

namespace {

void PrintUsage(std::FILE* out, const char* program, const char* summary) {
  std::fprintf(out,
               "Usage: %s [--help | --version]\n"
               "%s\n"
               "\n"
               "Keeps its files in the directory $FARE_DATA_DIR when that is set and not empty,\n"
               "otherwise in ../../ (relative to the working directory).\n"
               "\n"
               "  --help     print this help and exit\n"
               "  --version  print the version and exit\n"
               "\n"
               "See %s(1) and fare-files(5).\n",
               program, summary, program);
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
    PrintUsage(stdout, program, summary);
    Finish();
  }
  if (argc == 2 && option == "--version") {
    std::printf("%s (farecard) %s\n", program, FARE_VERSION);
    Finish();
  }
  std::fflush(stdout);
  if (argc == 2) {
    std::fprintf(stderr, "%s: unknown argument '%s'\n", program, argv[1]);
  } else {
    std::fprintf(stderr, "%s: too many arguments\n", program);
  }
  PrintUsage(stderr, program, summary);
  std::exit(2);
}
