// SPDX-License-Identifier: Apache-2.0
// The journal's records (their layout is in Journal.h), and the reading of a journal's bytes.
#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "Journal.h"

namespace {

constexpr std::string_view kMagic = "FJ";
constexpr std::size_t kSumBytes = 17;      // 16 hex digits and a line end
constexpr std::size_t kLongestHead = 160;  // two 64-character words and four numbers
constexpr std::size_t kLongestName = 16;

// FNV-1a over 64-bit words: a change of any one word changes the result, and a journal full of
// records is checked in a few microseconds.
std::uint64_t Checksum(std::string_view bytes) {
  std::uint64_t hash = 14695981039346656037ULL;
  for (; bytes.size() >= 8; bytes.remove_prefix(8)) {
    std::uint64_t word = 0;
    std::memcpy(&word, bytes.data(), 8);
    hash = (hash ^ word) * 1099511628211ULL;
  }
  for (const char c : bytes) hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ULL;
  return hash ^ (hash >> 29);
}

bool TakeWord(std::string_view& text, std::string& out) {
  const std::size_t end = text.find_first_of(" \n");
  if (end == 0 || end == std::string_view::npos || end > 64) return false;
  out = text.substr(0, end);
  text.remove_prefix(end + 1);
  return true;
}

struct Head {
  JournalRecord record;
  std::string epoch;
  std::uint64_t card_size = 0, name_size = 0, line_size = 0;
  std::size_t length = 0;  // of the head line
};

std::optional<Head> ParseHead(std::string_view rest) {
  const std::size_t line_end = rest.substr(0, kLongestHead).find('\n');
  if (line_end == std::string_view::npos || !rest.starts_with(kMagic)) return std::nullopt;
  Head head;
  const char mark = rest[kMarkOffset];
  std::string_view text = rest.substr(kMarkOffset + 2, line_end - kMarkOffset - 1);
  if ((mark != kPendingMark && mark != kCommittedMark && mark != kAppliedMark) ||
      rest[kMarkOffset + 1] != ' ' || !TakeWord(text, head.epoch) ||
      !TakeWord(text, head.record.boot) || !TakeNumber(text, head.card_size) ||
      !TakeNumber(text, head.name_size) || !TakeNumber(text, head.record.commit.log_length) ||
      !TakeNumber(text, head.line_size) || !text.empty() || head.card_size > kLongestJournalLine ||
      head.name_size > kLongestName || head.line_size > kLongestJournalLine) {
    return std::nullopt;
  }
  head.record.mark = mark;
  head.length = line_end + 1;
  return head;
}

bool ZerosFrom(std::string_view bytes, std::size_t from) {
  static const char kZeros[4096] = {};
  for (bytes.remove_prefix(std::min(from, bytes.size())); !bytes.empty();) {
    const std::size_t n = std::min(bytes.size(), sizeof kZeros);
    if (std::memcmp(bytes.data(), kZeros, n) != 0) return false;
    bytes.remove_prefix(n);
  }
  return true;
}

enum class Take { kWhole, kTorn, kDamaged };

struct Taken {
  Take how = Take::kDamaged;
  JournalRecord record;
  std::string epoch;
  std::size_t next = 0;
};

Taken TakeRecord(std::string_view bytes, std::size_t at, const BookRules& rules) {
  const std::string_view rest = bytes.substr(at);
  auto head = ParseHead(rest);
  const std::size_t length =
      head ? head->length + head->card_size + head->name_size + head->line_size + kSumBytes
           : kLongestHead;
  // Cut short: a zero where the record still had bytes to come, and nothing but zeros after.
  const std::size_t zero = rest.substr(0, length).find('\0');
  if (zero < length && ZerosFrom(rest, zero)) return {Take::kTorn, {}, {}, 0};
  if (!head || length > rest.size() || rest[length - 1] != '\n') return {};
  const std::string_view body = rest.substr(head->length, length - head->length - kSumBytes);
  std::string_view sum_text = rest.substr(length - kSumBytes, kSumBytes);
  std::uint64_t sum = 0;
  const std::size_t covered = kMarkOffset + 1;
  if (!TakeNumber(sum_text, sum, 16) || !sum_text.empty() ||
      sum != Checksum(rest.substr(covered, length - kSumBytes - covered))) {
    return {};
  }
  CardCommit& commit = head->record.commit;
  commit.card_line = body.substr(0, head->card_size);
  commit.log.name = body.substr(head->card_size, head->name_size);
  commit.log.line = body.substr(head->card_size + head->name_size);
  if (!rules.is_card_line(commit.card_line) || !IsSoundLog(commit, rules)) return {};
  head->record.offset = at;
  return {Take::kWhole, std::move(head->record), std::move(head->epoch), at + length};
}

// Whether a whole record of generation |epoch| stands anywhere in |bytes| from |from| on.
bool HoldsRecordOf(std::string_view bytes, std::size_t from, const std::string& epoch,
                   const BookRules& rules) {
  for (std::size_t at = bytes.find(kMagic, from); at != std::string_view::npos;
       at = bytes.find(kMagic, at + 1)) {
    const Taken taken = TakeRecord(bytes, at, rules);
    if (taken.how == Take::kWhole && taken.epoch == epoch) return true;
  }
  return false;
}

}  // namespace

std::string FormatJournalRecord(const CardCommit& commit, std::string_view epoch,
                                std::string_view boot) {
  std::string head = {'F', 'J', kPendingMark, ' '};
  head.append(epoch).append(" ").append(boot).append(" ");
  const std::string record = CommitBody(head, commit);
  char sum[24];
  std::snprintf(sum, sizeof sum, "%016" PRIx64 "\n",
                Checksum(std::string_view(record).substr(kMarkOffset + 1)));
  return record + sum;
}

JournalScan ScanJournal(std::string_view bytes, const BookRules& rules) {
  JournalScan scan;
  std::size_t at = 0;
  while (at < bytes.size() && bytes[at] != '\0') {
    Taken taken = TakeRecord(bytes, at, rules);
    if (taken.how == Take::kWhole && !scan.epoch.empty() && taken.epoch != scan.epoch) break;
    if (taken.how != Take::kWhole) {
      scan.how = taken.how == Take::kTorn ? JournalEnd::kTorn : JournalEnd::kDamaged;
      break;
    }
    scan.epoch = std::move(taken.epoch);
    scan.records.push_back(std::move(taken.record));
    at = taken.next;
  }
  scan.end = at;
  // Past the records the journal is all zeros, but for what a crash left there.
  scan.dirty_end = ZerosFrom(bytes, at) ? at : std::max(at, bytes.find_last_not_of('\0') + 1);
  // What lies past the end is left by an earlier generation (a checkpoint cut short), unless a
  // record of this generation stands there: then one in between was lost.
  if (scan.how == JournalEnd::kClean && scan.dirty_end > at && !scan.epoch.empty() &&
      HoldsRecordOf(bytes, at, scan.epoch, rules)) {
    scan.how = JournalEnd::kDamaged;
  }
  return scan;
}
