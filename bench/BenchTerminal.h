// SPDX-License-Identifier: Apache-2.0
// What the benchmarks of the real terminal program share: a data directory with a card in it,
// and the terminal started in it under libfaketime.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>
#include <vector>

// A data directory D with D/a/b and a card in it; removed when the object goes.
class BenchDir {
 public:
  BenchDir();
  ~BenchDir();
  BenchDir(const BenchDir&) = delete;
  BenchDir& operator=(const BenchDir&) = delete;

  bool ready() const { return ready_; }
  std::string workdir() const { return (root_ / "a" / "b").string(); }
  std::string Path(const std::string& name) const { return (root_ / name).string(); }

 private:
  std::filesystem::path root_;
  bool ready_ = false;
};

// This process's environment with the time zone fixed to UTC, libfaketime preloaded and its
// settings replaced by |faketime| ("FAKETIME=+0 x60", say).
std::vector<std::string> FakeClockEnvironment(const std::vector<std::string>& faketime);

// Starts the terminal in |workdir| in a process group of its own, reading |in| and writing
// |out|, with environment |env|. Returns its pid, or -1.
pid_t StartTerminal(const std::string& workdir, int in, int out,
                    const std::vector<std::string>& env);
