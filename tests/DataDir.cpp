// SPDX-License-Identifier: Apache-2.0
#include "DataDir.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace fs = std::filesystem;

DataDir::DataDir() {
  std::string pattern = (fs::temp_directory_path() / "farecard-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  root_ = pattern;
  work_ = root_ + "/a/b";
  fs::create_directories(work_);
  old_cwd_ = fs::current_path().string();
  fs::current_path(work_);
}

DataDir::~DataDir() {
  std::error_code ignored;
  fs::current_path(old_cwd_, ignored);
  fs::remove_all(root_, ignored);
}

std::string DataDir::Path(std::string_view name) const { return root_ + "/" + std::string(name); }

std::string DataDir::Read(std::string_view name) const {
  std::ifstream in(Path(name), std::ios::binary);
  if (!in) return "<missing>";
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

void DataDir::Write(std::string_view name, std::string_view bytes) const {
  std::ofstream out(Path(name), std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

bool DataDir::Exists(std::string_view name) const { return fs::exists(Path(name)); }
