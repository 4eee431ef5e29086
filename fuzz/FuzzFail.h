// SPDX-License-Identifier: Apache-2.0
// How a fuzz target reports a broken property: libFuzzer keeps the input of any crash, so an
// abort with the reason on standard error turns a wrong result into a saved crash input.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

inline void FailOn(const std::string& problem) {
  if (problem.empty()) return;
  std::fprintf(stderr, "property broken: %s\n", problem.c_str());
  std::abort();
}
