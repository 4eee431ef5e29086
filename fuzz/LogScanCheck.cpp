// SPDX-License-Identifier: Apache-2.0
#include <algorithm>
#include <cstdint>
#include <limits>
#include <vector>

#include "ReaderChecks.h"
#include "Reference.h"

namespace {

// What a reading of a whole log comes to.
struct Outcome {
  std::vector<std::string> entries;  // each as Show prints it
  ScanStop stop = ScanStop::kEndOfLog;
  std::size_t offset = 0;  // the end of the text, or where the damaged record starts
  std::size_t lines = 0;   // line ends before |offset|
};

constexpr std::size_t kFieldsPerRecord = 11;

constexpr std::int32_t kBusStation = 6666;

std::string Code(char c) { return std::to_string(static_cast<unsigned char>(c)); }

// What the allocation reads of a record, from the reference's own reading of all its fields.
std::string Show(const LogEntry& e) {
  const bool credited = e.missedOffFee == 600 || e.missedOffFee == 700 || e.missedOffFee == 200;
  return std::to_string(credited ? e.missedOffFee : 0) + " " + std::to_string(e.additionalFee) +
         " " + Code(e.transfer) + " " + std::to_string(e.prevFare) + " " + Code(e.inOut) +
         (e.termId == kBusStation ? " bus" : " subway");
}

std::string Show(const FareEntry& e) {
  constexpr int kFees[] = {0, 600, 700, 200};
  return std::to_string(kFees[static_cast<int>(e.surcharge)]) + " " +
         std::to_string(e.additionalFee) + " " + Code(e.transfer) + " " +
         std::to_string(e.prevFare) + " " + Code(e.inOut) + (e.atBusStation ? " bus" : " subway");
}

std::string Show(const Outcome& outcome) {
  std::string text = outcome.stop == ScanStop::kEndOfLog  ? "end of log"
                     : outcome.stop == ScanStop::kDamaged ? "damaged"
                                                          : "needs more";
  text += " at " + std::to_string(outcome.offset) + " (" + std::to_string(outcome.lines) +
          " line ends) after " + std::to_string(outcome.entries.size()) + " entries:";
  for (const std::string& entry : outcome.entries) text += " [" + entry + "]";
  return text;
}

template <typename Number>
bool TakeNumber(const Word& word, Number& out) {
  const auto value = Decimal(word.text, Signs::kPlusOrMinus, std::numeric_limits<Number>::min(),
                             std::numeric_limits<Number>::max());
  if (value) out = static_cast<Number>(*value);
  return value.has_value();
}

bool TakeLetter(const Word& word, char& out) {
  if (word.text.size() != 1) return false;
  out = word.text[0];
  return true;
}

bool TakeRecord(const Word* w, LogEntry& e) {
  return TakeNumber(w[0], e.termId) && TakeNumber(w[1], e.baseFee) &&
         TakeNumber(w[2], e.missedOffFee) && TakeNumber(w[3], e.additionalFee) &&
         TakeNumber(w[4], e.cardId) && TakeLetter(w[5], e.transfer) &&
         TakeNumber(w[6], e.prevFare) && TakeLetter(w[7], e.prevVehicle) &&
         TakeLetter(w[8], e.inOut) && TakeNumber(w[9], e.tagTime) && TakeNumber(w[10], e.stamp);
}

// Records are eleven words in a row wherever the line ends fall; the first record that is cut
// short or holds a bad field ends the reading.
Outcome ReferenceScan(std::string_view text) {
  const std::vector<Word> words = SplitWords(text);
  Outcome outcome{{}, ScanStop::kEndOfLog, text.size(), 0};
  for (std::size_t i = 0; i < words.size(); i += kFieldsPerRecord) {
    LogEntry entry;
    if (words.size() - i < kFieldsPerRecord || !TakeRecord(&words[i], entry)) {
      outcome.stop = ScanStop::kDamaged;
      outcome.offset = words[i].offset;
      break;
    }
    // Entries that no pass credits are not kept.
    const bool surcharge =
        entry.missedOffFee == 600 || entry.missedOffFee == 700 || entry.missedOffFee == 200;
    const bool get_off = entry.inOut == 'O' && (entry.transfer == 'T' || entry.transfer == 'F');
    if (surcharge || get_off) outcome.entries.push_back(Show(entry));
  }
  const std::string_view before = text.substr(0, outcome.offset);
  outcome.lines = static_cast<std::size_t>(std::count(before.begin(), before.end(), '\n'));
  return outcome;
}

// An entry put in the block before the scan, which the scan must leave as it is: it only appends.
FareEntry Sentinel() {
  FareEntry entry;
  entry.prevFare = -7;
  entry.transfer = '\x01';
  return entry;
}

std::vector<std::string> Shown(const EntryBlock& block, std::size_t from) {
  std::vector<std::string> shown;
  for (std::size_t i = from; i < block.size(); ++i) shown.push_back(Show(block[i]));
  return shown;
}

std::string ScanWhole(std::string_view text, LogScanner scan, Outcome& outcome) {
  EntryBlock block{Sentinel()};
  const ScanResult result = scan(text, true, block);
  if (block.empty() || Show(block.front()) != Show(Sentinel())) {
    return "changed an entry that was already in the block";
  }
  if (result.stop == ScanStop::kNeedMore) return "asked for more text at the end of the log";
  if (result.consumed > text.size()) return "consumed more bytes than it was given";
  outcome = {Shown(block, 1), result.stop, result.consumed, result.lines};
  return {};
}

// Feeds |text| |piece| bytes at a time, carrying the unfinished record over compacted, as the
// settlement does when it streams a log: |gaps| maps the compacted bytes back to the log's own
// offsets and line ends, and the record carried must stay within its bound.
std::string ScanInPieces(std::string_view text, std::size_t piece, LogScanner scan,
                         Outcome& outcome) {
  EntryBlock table;
  std::string held;       // the unfinished record carried over, compacted
  std::vector<Gap> gaps;  // which bytes of |held| stand for more of the log
  std::size_t start = 0;  // log offset of held[0]
  std::size_t fed = 0;    // bytes read so far
  std::size_t lines = 0;  // line ends in the bytes consumed
  while (true) {
    const std::size_t next = std::min(text.size(), fed + piece);
    const std::string window = held + std::string(text.substr(fed, next - fed));
    fed = next;
    const bool is_last = fed == text.size();
    const ScanResult result = scan(window, is_last, table);
    if (result.consumed > window.size()) return "consumed more bytes than it was given";
    const bool asks_more = result.stop == ScanStop::kNeedMore;
    if (asks_more && is_last) return "asked for more text at the end of the log";
    if (!asks_more && result.stop == ScanStop::kEndOfLog && !is_last) {
      return "reported the end of the log before the last piece";
    }
    std::size_t offset = start + result.consumed;
    lines += result.lines;
    for (const Gap& gap : gaps) {
      if (gap.at >= result.consumed) continue;
      offset += gap.bytes;
      lines += gap.lines;
    }
    if (!asks_more) {
      outcome = {Shown(table, 0), result.stop, offset, lines};
      return {};
    }
    held = window.substr(result.consumed);
    std::erase_if(gaps, [&](const Gap& gap) { return gap.at < result.consumed; });
    for (Gap& gap : gaps) gap.at -= result.consumed;
    held.resize(CompactRecord(held.data(), held.size(), gaps));
    if (held.size() > kLongestCompactRecord) {
      return "carried a record of " + std::to_string(held.size()) + " bytes to the next piece";
    }
    start = offset;
  }
}

// A piece size taken from the bytes themselves, so that every input is split in its own way.
std::size_t PieceSize(std::string_view bytes) {
  std::uint32_t hash = 2166136261u;
  for (const char c : bytes) hash = (hash ^ static_cast<unsigned char>(c)) * 16777619u;
  return 1 + hash % 64;
}

}  // namespace

std::string CheckLogScan(std::string_view bytes, LogScanner scan) {
  const Outcome want = ReferenceScan(bytes);
  Outcome whole;
  if (std::string problem = ScanWhole(bytes, scan, whole); !problem.empty()) return problem;
  if (Show(whole) != Show(want)) {
    return "scanned " + Show(whole) + "; the reference reads " + Show(want);
  }
  const std::size_t piece = PieceSize(bytes);
  Outcome pieces;
  if (std::string problem = ScanInPieces(bytes, piece, scan, pieces); !problem.empty()) {
    return "in pieces of " + std::to_string(piece) + ": " + problem;
  }
  if (Show(pieces) != Show(whole)) {
    return "in pieces of " + std::to_string(piece) + " scanned " + Show(pieces) +
           "; whole it scans " + Show(whole);
  }
  return {};
}
