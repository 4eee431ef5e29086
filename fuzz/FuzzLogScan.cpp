// SPDX-License-Identifier: Apache-2.0
// Fuzzes the settlement's log scanner: any bytes as the text of one terminal log.
#include <cstddef>
#include <cstdint>

#include "FuzzFail.h"
#include "ReaderChecks.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FailOn(CheckLogScan(std::string_view(reinterpret_cast<const char*>(data), size)));
  return 0;
}
