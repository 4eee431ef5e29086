// SPDX-License-Identifier: Apache-2.0
#include <cstdio>

#include "Settle.h"

// The table lives here for the whole run; the passes and the report only read it. A log that
// cannot be read at all stops the run like a missing one: settling without it would report
// totals that silently lack a terminal's income.
void DBRead(unsigned threads) {
  LogSnapshots logs;
  EntryTable table;
  if (!SnapshotLogs(logs) || !LoadLogs(logs, table, threads)) {
    std::puts("Cannot find DB!");
    return;
  }
  std::size_t count = 0;
  for (const EntryBlock& block : table) count += block.size();
  Non_Ad_Calculator(table, count);
}

void DBRead() { DBRead(UsableProcessors()); }
