// SPDX-License-Identifier: Apache-2.0
// Fuzzes the card file reader: any bytes as a card file line.
#include <cstddef>
#include <cstdint>

#include "FuzzFail.h"
#include "ReaderChecks.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FailOn(CheckCardLine(std::string_view(reinterpret_cast<const char*>(data), size)));
  return 0;
}
