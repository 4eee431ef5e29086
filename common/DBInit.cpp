#include <cstdio>

#include "DataFiles.h"
#include "LogFile.h"
#include "WhatTerm.h"

void DBInit() {
  const std::string name = LogFileName(WhatTerm);
  if (name.empty()) return;
  (void)EmptyFile(DataPath(name));
}
