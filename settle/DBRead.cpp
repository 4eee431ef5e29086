// SPDX-License-Identifier: Apache-2.0
#include <cstdio>

#include "DataFiles.h"
#include "Settle.h"

// The table lives here for the whole run; the passes and the report only read it. A log that
// cannot be read at all stops the run like a missing one: settling without it would report
// totals that silently lack a terminal's income.
void DBRead(unsigned threads) {
  LogSnapshots logs;
  EntryTable table;
  std::string settled;  // where each log that holds anything stood, for the settlements
  const bool snapped = SnapshotLogs(logs);
  for (const LogSnapshot& log : logs) {
    const auto stamp = snapped && log.length > 0 ? ContentStamp(log.fd, log.length) : std::nullopt;
    if (stamp) settled += log.path.substr(log.path.rfind('/') + 1) + " " + *stamp + "\n";
  }
  if (!snapped || !LoadLogs(logs, table, threads)) {
    std::puts("Cannot find DB!");
    return;
  }
  std::size_t count = 0;
  for (const EntryBlock& block : table) count += block.size();
  Non_Ad_Calculator(table, count, settled);
}

void DBRead() { DBRead(UsableProcessors()); }
