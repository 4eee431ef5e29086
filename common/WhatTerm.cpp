// SPDX-License-Identifier: Apache-2.0
#include "WhatTerm.h"

std::int32_t WhatTerm = 0;

bool IsTerminalId(std::int32_t term_id) {
  return term_id >= kFirstTermId && term_id <= kBusTermId && term_id % kTermIdStep == 0;
}

std::string LogFileName(std::int32_t term_id) {
  if (!IsTerminalId(term_id)) return {};
  return std::to_string(term_id) + ".txt";
}

bool IsLogFileName(std::string_view name) {
  for (std::int32_t id = kFirstTermId; id <= kBusTermId; id += kTermIdStep) {
    if (name == LogFileName(id)) return true;
  }
  return false;
}
