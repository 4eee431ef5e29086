// SPDX-License-Identifier: Apache-2.0
// A temporary data directory D for one test: the working directory becomes D/a/b, so that
// every "../../" path of the programs lands in D. Removed again, with the old working
// directory restored, when the object goes.
#pragma once

#include <string>
#include <string_view>

class DataDir {
 public:
  DataDir();
  ~DataDir();
  DataDir(const DataDir&) = delete;
  DataDir& operator=(const DataDir&) = delete;

  const std::string& root() const { return root_; }     // D
  const std::string& workdir() const { return work_; }  // D/a/b
  std::string Path(std::string_view name) const;        // D/name

  // The whole content of D/name; "<missing>" when it does not exist.
  std::string Read(std::string_view name) const;
  void Write(std::string_view name, std::string_view bytes) const;
  bool Exists(std::string_view name) const;

 private:
  std::string root_;
  std::string work_;
  std::string old_cwd_;
};
