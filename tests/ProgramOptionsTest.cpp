// SPDX-License-Identifier: Apache-2.0
// The command line and the data directory of the three real programs: --help, --version and
// every other argument, and FARE_DATA_DIR moving every file the programs keep.
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <set>
#include <vector>

#include <gtest/gtest.h>

#include "ConsoleTexts.h"
#include "DataDir.h"
#include "Process.h"

namespace {

namespace fs = std::filesystem;

// What --version prints after the name and the version, as GNU programs do.
constexpr const char* kLicenceLines =
    "Copyright (C) 2026 The farecard developers\n"
    "License Apache-2.0: Apache License, Version 2.0 "
    "<https://www.apache.org/licenses/LICENSE-2.0>.\n"
    "This is free software: you are free to change and redistribute it.\n"
    "There is NO WARRANTY, to the extent permitted by law.\n";

// Runs |program| with the shell words |args| in |dir|'s working directory, with a card on the
// way in, so a program that ran on instead of answering its arguments would show it.
RunResult RunWithArguments(const DataDir& dir, const std::string& program,
                           const std::string& args) {
  dir.Write("in", "1\n1\n");
  const int raw =
      std::system(("cd " + dir.workdir() + " && env -u FARE_DATA_DIR " + program + " <" +
                   dir.Path("in") + " >" + dir.Path("out") + " 2>" + dir.Path("err") + " " + args)
                      .c_str());
  return {dir.Read("out"), dir.Read("err"), WIFEXITED(raw) ? WEXITSTATUS(raw) : -1};
}

std::set<std::string> NamesIn(const std::string& directory) {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(directory)) {
    names.insert(entry.path().filename().string());
  }
  return names;
}

TEST(CommandLine, HelpVersionAndAnyOtherArgument) {
  for (const auto& [name, bin] :
       {std::pair{"issuer", ISSUER_BIN}, {"terminal", TERMINAL_BIN}, {"settle", SETTLE_BIN}}) {
    SCOPED_TRACE(name);
    DataDir dir;
    const RunResult help = RunWithArguments(dir, bin, "--help");
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.rfind(std::string("Usage: ") + name + " [--help | --version]\n", 0), 0u);
    EXPECT_EQ(help.err, "");
    // A build in the checkout keeps the designed data directory.
    EXPECT_NE(help.out.find("otherwise in ../../ (relative to the working directory).\n"),
              std::string::npos);
    const RunResult version = RunWithArguments(dir, bin, "--version");
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, std::string(name) + " (farecard) " FARE_VERSION "\n" + kLicenceLines);
    for (const auto& [args, reason] : {std::pair{"--verbose", "unknown argument '--verbose'"},
                                       {"-h", "unknown argument '-h'"},
                                       {"''", "unknown argument ''"},
                                       {"--help --version", "too many arguments"},
                                       {"--help x", "too many arguments"}}) {
      SCOPED_TRACE(args);
      const RunResult run = RunWithArguments(dir, bin, args);
      EXPECT_EQ(run.status, 2);
      EXPECT_EQ(run.out, "");
      EXPECT_EQ(run.err, name + std::string(": ") + reason + "\nTry '" + name +
                             " --help' for more information.\n");
    }
    const RunResult full = RunWithArguments(dir, bin, "--version >/dev/full");
    EXPECT_EQ(full.status, 1);
    EXPECT_EQ(full.err, name + std::string(": standard output: No space left on device\n"));
    EXPECT_EQ(NamesIn(dir.root()), (std::set<std::string>{"a", "err", "in", "out"}));
  }
}

TEST(FareDataDir, HoldsEveryFileTheProgramsKeepWhenSet) {
  DataDir dir;  // where "../../" leads
  ClockFile clock{dir.Path("clock")};
  clock.Set(kStart);
  const std::string moved = dir.Path("moved");
  fs::create_directory(moved);
  ProcessOptions options{dir.workdir(), &clock, {"FARE_DATA_DIR=" + moved}};
  EXPECT_EQ(RunProgram(ISSUER_BIN, "42 20000\n", options).out,
            std::string(kIdPrompt) + kBalancePrompt + "Create Card Complete!\n");
  std::vector<std::unique_ptr<Process>> terminals;
  for (const char* choice : {"1", "2", "3", "4", "5", "6"}) {
    terminals.push_back(std::make_unique<Process>(TERMINAL_BIN, options));
    terminals.back()->Write(std::string(choice) + "\n1\n");
    ASSERT_TRUE(terminals.back()->WaitForOutput("Tagging is processed competely.")) << choice;
  }
  clock.Set(kStart + kServicePeriod);
  for (auto& terminal : terminals) EXPECT_EQ(terminal->Wait(), 0);
  const RunResult settle = RunProgram(SETTLE_BIN, "", options);
  EXPECT_NE(settle.out.find("Overall Fee : "), std::string::npos) << settle.out << settle.err;

  EXPECT_EQ(NamesIn(dir.root()), (std::set<std::string>{"a", "clock", "moved"}));
  EXPECT_EQ(NamesIn(dir.workdir()), std::set<std::string>{});
  const std::set<std::string> kept = NamesIn(moved);
  for (const char* file :
       {"usercard.txt", "usercard.lock", "1111.txt", "2222.txt", "3333.txt", "4444.txt", "5555.txt",
        "6666.txt", "SubwayCompany.txt", "BusCompany.txt"}) {
    EXPECT_EQ(kept.count(file), 1u) << file;
  }

  // A directory that does not exist is like missing files; an empty value is no directory.
  options.env = {"FARE_DATA_DIR=" + moved + "/none"};
  EXPECT_EQ(RunProgram(SETTLE_BIN, "", options).out, "Cannot find DB!\n");
  options.env = {"FARE_DATA_DIR="};
  EXPECT_EQ(RunProgram(ISSUER_BIN, "7 100\n", options).status, 0);
  EXPECT_TRUE(dir.Exists("usercard.txt"));
}

}  // namespace
