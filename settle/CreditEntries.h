// SPDX-License-Identifier: Apache-2.0
// How a pass goes over the entry table: every pass credits a sum of per-entry terms, and sums
// of 128-bit totals never leave their range, so they add up alike in any order. Two threads may
// therefore each sum half of the entries.
#pragma once

#include <cstddef>
#include <system_error>
#include <thread>

#include "Settle.h"

// Below this many entries a second thread costs more than it saves.
inline constexpr std::size_t kEntriesPerThread = 4096;

// Calls |credit| on the entries |from| to |to| (not included) of |table|, block by block in log
// order; entries past the end of the table are not there to call it on.
template <typename CreditOne>
void ForEachEntryIn(const EntryTable& table, std::size_t from, std::size_t to, CreditOne credit) {
  for (const EntryBlock& block : table) {
    const std::size_t end = to < block.size() ? to : block.size();
    for (std::size_t i = from; i < end; ++i) credit(block[i]);
    from = from > block.size() ? from - block.size() : 0;
    to -= end;
  }
}

// Applies |credit(entry, totals)| to each of the first |count| entries of |table|, adding to
// |income|. Two threads each take half of the entries when the process may run on two
// processors and there are enough entries; when no thread can be had, this one takes both.
template <typename CreditOne>
void CreditEntries(const EntryTable& table, std::size_t count, Income& income, CreditOne credit) {
  std::size_t entries = 0;
  for (const EntryBlock& block : table) entries += block.size();
  if (count > entries) count = entries;
  if (count < 2 * kEntriesPerThread || UsableProcessors() < 2) {
    ForEachEntryIn(table, 0, count, [&](const FareEntry& entry) { credit(entry, income); });
    return;
  }
  // Each half is summed into totals of its own and handed over once at the end, so the two
  // threads never write to the same cache line while they sum.
  Income halves[2];
  const auto sum = [&](std::size_t half) {
    Income part;
    ForEachEntryIn(table, half == 0 ? 0 : count / 2, half == 0 ? count / 2 : count,
                   [&](const FareEntry& entry) { credit(entry, part); });
    halves[half] = part;
  };
  std::thread helper;
  try {
    helper = std::thread(sum, 1);
  } catch (const std::system_error&) {
    sum(1);
  }
  sum(0);
  if (helper.joinable()) helper.join();
  for (const Income& part : halves) {
    income.subwayIncome += part.subwayIncome;
    income.busIncome += part.busIncome;
  }
}
