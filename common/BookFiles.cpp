// SPDX-License-Identifier: Apache-2.0
#include "BookFiles.h"

#include "WhatTerm.h"

bool IsAppendedFileName(std::string_view name) {
  return IsLogFileName(name) || name == kSubwayReportName || name == kBusReportName ||
         name == kSettlementsName;
}
