#include <cstdio>

#include "DataFiles.h"
#include "LoadLog.h"
#include "Settle.h"
#include "SettleConstants.h"

// The table lives here for the whole run; the passes and the report only read it. A log that
// cannot be read at all stops the run like a missing one: settling without it would report
// totals that silently lack a terminal's income.
void DBRead() {
  EntryTable table;
  ReserveTable(table);
  for (const std::int32_t term_id : kLogTermIds) {
    if (LoadLog(DataPath(LogFileName(term_id)), table) == LoadOutcome::kUnreadable) {
      std::puts("Cannot find DB!");
      return;
    }
  }
  Non_Ad_Calculator(table, table.size());
}
