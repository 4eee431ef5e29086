// SPDX-License-Identifier: Apache-2.0
// Fuzzes the console number reader: any bytes as what is typed at a menu.
#include <cstddef>
#include <cstdint>

#include "FuzzFail.h"
#include "ReaderChecks.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FailOn(CheckMenuInput(std::string_view(reinterpret_cast<const char*>(data), size)));
  return 0;
}
