// SPDX-License-Identifier: Apache-2.0
#include "BenchTerminal.h"

#include <unistd.h>

#include <cstdlib>
#include <string_view>

#include "Card.h"
#include "Clock.h"
#include "DataFiles.h"

extern char** environ;

namespace fs = std::filesystem;

BenchDir::BenchDir() {
  std::string pattern = (fs::temp_directory_path() / "terminal-bench-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) return;
  root_ = pattern;
  fs::create_directories(root_ / "a" / "b");
  Card card;
  card.cardId = 1;
  card.tagTime = CurrentTime();
  card.balance = 100'000;
  ready_ = ReplaceFile((root_ / kCardFileName).string(), FormatCardLine(card), true);
}

BenchDir::~BenchDir() {
  std::error_code ignored;
  if (!root_.empty()) fs::remove_all(root_, ignored);
}

std::vector<std::string> FakeClockEnvironment(const std::vector<std::string>& faketime) {
  std::vector<std::string> env;
  for (char** var = environ; *var != nullptr; ++var) {
    const std::string_view entry(*var);
    if (entry.starts_with("LD_PRELOAD=") || entry.starts_with("FAKETIME") ||
        entry.starts_with("TZ=") || entry.starts_with("FARE_DATA_DIR=")) {
      continue;
    }
    env.emplace_back(entry);
  }
  env.push_back(std::string("LD_PRELOAD=") + FAKETIME_LIB);
  env.insert(env.end(), faketime.begin(), faketime.end());
  env.emplace_back("TZ=UTC");
  return env;
}

// Only async-signal-safe calls between fork and exec.
pid_t StartTerminal(const std::string& workdir, int in, int out,
                    const std::vector<std::string>& env) {
  std::vector<char*> envp;
  for (const std::string& entry : env) envp.push_back(const_cast<char*>(entry.c_str()));
  envp.push_back(nullptr);
  char program[] = TERMINAL_BIN;
  char* argv[] = {program, nullptr};
  const pid_t pid = fork();
  if (pid == 0) {
    setpgid(0, 0);
    if (dup2(in, STDIN_FILENO) < 0 || dup2(out, STDOUT_FILENO) < 0 || chdir(workdir.c_str()) != 0) {
      _exit(127);
    }
    execve(program, argv, envp.data());
    _exit(127);
  }
  return pid;
}
