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

// Runs |program| with the shell words |args| in |dir|'s working directory, FARE_DATA_DIR unset
// or as |env| sets it, with a card on the way in, so a program that ran on instead of
// answering its arguments would show it.
RunResult RunWithArguments(const DataDir& dir, const std::string& program, const std::string& args,
                           const std::string& env = "") {
  dir.Write("in", "1\n1\n");
  const int raw = std::system(("cd " + dir.workdir() + " && env -u FARE_DATA_DIR " + env + " " +
                               program + " <" + dir.Path("in") + " >" + dir.Path("out") + " 2>" +
                               dir.Path("err") + " " + args)
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

// The help's two lines on the data directory.
std::string DataDirectoryLines(const std::string& dir, const std::string& origin) {
  return "\nData directory: " + dir + "\n  (" + origin + ")\n\n";
}

constexpr const char* kHelp = "help";
constexpr const char* kVersion = "version";

TEST(CommandLine, HelpVersionAndAnyOtherArgument) {
  for (const auto& [name, bin] :
       {std::pair{"issuer", ISSUER_BIN}, {"terminal", TERMINAL_BIN}, {"settle", SETTLE_BIN}}) {
    SCOPED_TRACE(name);
    DataDir dir;
    const std::string usage = std::string("Usage: ") + name + " [--help | --version]\n";
    const std::string version =
        std::string(name) + " (farecard) " FARE_VERSION "\n" + kLicenceLines;
    // The first of --help, -h and --version answers, wherever it stands; an unknown option
    // before it does not.
    for (const auto& [args, answer] : {std::pair{"--help", kHelp},
                                       {"-h", kHelp},
                                       {"--help --version", kHelp},
                                       {"--version --help", kVersion},
                                       {"-h --version x", kHelp},
                                       {"x --help", kHelp},
                                       {"--version", kVersion},
                                       {"--verbose", "unknown argument '--verbose'"},
                                       {"--verbose --help", "unknown argument '--verbose'"},
                                       {"-", "unknown argument '-'"},
                                       {"''", "unknown argument ''"},
                                       {"x y", "too many arguments"}}) {
      SCOPED_TRACE(args);
      const RunResult run = RunWithArguments(dir, bin, args);
      if (answer == kHelp || answer == kVersion) {
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.err, "");
        EXPECT_EQ(answer == kHelp ? run.out.substr(0, usage.size()) : run.out,
                  answer == kHelp ? usage : version);
        continue;
      }
      EXPECT_EQ(run.status, 2);
      EXPECT_EQ(run.out, "");
      EXPECT_EQ(run.err, name + std::string(": ") + answer + "\nTry '" + name +
                             " --help' for more information.\n");
    }
    const RunResult full = RunWithArguments(dir, bin, "--version >/dev/full");
    EXPECT_EQ(full.status, 1);
    EXPECT_EQ(full.err, name + std::string(": standard output: No space left on device\n"));
    EXPECT_EQ(NamesIn(dir.root()), (std::set<std::string>{"a", "err", "in", "out"}));
  }
}

// --help names the directory the program would use, absolute, and what chose it.
TEST(CommandLine, HelpNamesTheDataDirectoryInUse) {
  DataDir dir;
  const std::string root = fs::canonical(dir.root()).string();
  fs::create_directory(dir.Path("moved"));
  fs::create_symlink(root + "/moved", dir.Path("link"));
  const std::string by_default =
      "the default: ../../ of the working directory; "
      "FARE_DATA_DIR names another";
  for (const auto& [env, lines] :
       {std::pair{std::string(), DataDirectoryLines(root, by_default)},
        {"FARE_DATA_DIR=", DataDirectoryLines(root, by_default)},
        {"FARE_DATA_DIR=" + root + "/moved/",
         DataDirectoryLines(root + "/moved", "set by FARE_DATA_DIR=" + root + "/moved/")},
        {"FARE_DATA_DIR=" + root + "/link",
         DataDirectoryLines(root + "/moved", "set by FARE_DATA_DIR=" + root + "/link")},
        {"FARE_DATA_DIR=none", DataDirectoryLines(root + "/a/b/none", "set by FARE_DATA_DIR=none")},
        {"FARE_DATA_DIR=../none",
         DataDirectoryLines(root + "/a/none", "set by FARE_DATA_DIR=../none")}}) {
    SCOPED_TRACE(env);
    for (const char* bin : {ISSUER_BIN, TERMINAL_BIN, SETTLE_BIN}) {
      const RunResult help = RunWithArguments(dir, bin, "--help", env);
      EXPECT_EQ(help.status, 0);
      EXPECT_NE(help.out.find(lines), std::string::npos) << help.out;
    }
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
