// How a pass goes over the entry table: every pass credits a sum of per-entry terms, so two
// threads may each sum half of the entries, as long as the result is the one a single walk in
// table order gives.
#pragma once

#include <cstddef>
#include <cstdint>
#include <system_error>
#include <thread>

#include "Allocation.h"
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

// The credits of a share of the entries, and the sum of their sizes. While the totals handed
// to a pass and the sizes of all its credits add up to less than 2^63, no running total, nor
// their sum, can have left the 64-bit range in any order, so no credit was refused and the
// shares add up to what one walk in table order gives. |wide| records that the sizes alone
// reached 2^63.
struct PartialIncome {
  std::int64_t subway = 0;
  std::int64_t bus = 0;
  std::uint64_t size = 0;
  bool wide = false;
};

inline std::uint64_t Size(std::int64_t amount) {
  return amount < 0 ? 0 - static_cast<std::uint64_t>(amount) : static_cast<std::uint64_t>(amount);
}

// Credit for a share: the same terms, added without a check, since |size| bounds them.
inline bool Credit(PartialIncome& part, std::int64_t to_subway, std::int64_t to_bus) {
  part.wide = part.wide || __builtin_add_overflow(part.size, Size(to_subway), &part.size) ||
              __builtin_add_overflow(part.size, Size(to_bus), &part.size) ||
              part.size >= std::uint64_t{1} << 63;
  if (!part.wide) {
    part.subway += to_subway;
    part.bus += to_bus;
  }
  return true;
}

// Whether |income| plus the two shares is what one walk in table order gives (see
// PartialIncome); if so, adds them to |income|.
bool AddShares(Income& income, const PartialIncome& first, const PartialIncome& second);

// Applies |credit(entry, totals)| to each of the first |count| entries of |table|, adding to
// |income| exactly as one walk in table order would. Two threads each take half of the entries
// when the process may run on two processors and there are enough entries; when the shares
// cannot be shown to add up to the same totals (they come near the 64-bit range), or a thread
// cannot be had, the entries are walked again in one pass.
template <typename CreditOne>
void CreditEntries(const EntryTable& table, std::size_t count, Income& income, CreditOne credit) {
  std::size_t entries = 0;
  for (const EntryBlock& block : table) entries += block.size();
  if (count > entries) count = entries;
  const auto walk_all = [&] {
    ForEachEntryIn(table, 0, count, [&](const FareEntry& entry) { credit(entry, income); });
  };
  if (count < 2 * kEntriesPerThread || UsableProcessors() < 2) return walk_all();
  // Each thread sums into totals of its own and hands them over once at the end, so the two
  // never write to the same cache line while they sum.
  const auto sum = [&](std::size_t from, std::size_t to, PartialIncome& result) {
    PartialIncome part;
    ForEachEntryIn(table, from, to, [&](const FareEntry& e) { credit(e, part); });
    result = part;
  };
  PartialIncome first;
  PartialIncome second;
  std::thread helper;
  try {
    helper = std::thread([&] { sum(count / 2, count, second); });
  } catch (const std::system_error&) {
    return walk_all();
  }
  sum(0, count / 2, first);
  helper.join();
  if (!AddShares(income, first, second)) walk_all();
}
