// SPDX-License-Identifier: Apache-2.0
// The journal's reader: its bytes into records, and what it calls damage (the format is in
// JournalFormat.h).
#include <algorithm>
#include <cctype>
#include <cstring>
#include <optional>

#include "Journal.h"

namespace {

bool TakeWord(std::string_view& text, std::string& out) {
  const std::size_t end = text.find_first_of(" \n");
  if (end == 0 || end == std::string_view::npos || end > 64) return false;
  out = text.substr(0, end);
  text.remove_prefix(end + 1);
  return true;
}

struct Sizes {
  std::uint64_t name = 0, at = 0, bytes = 0;
};

struct Head {
  JournalRecord record;
  std::string epoch;
  std::uint64_t before = 0, card = 0;
  std::vector<Sizes> appends;
  std::size_t length = 0;  // of the head line
};

bool TakeAppendSizes(std::string_view& text, Sizes& sizes) {
  return TakeHeadNumber(text, sizes.name) && TakeHeadNumber(text, sizes.at) &&
         TakeHeadNumber(text, sizes.bytes) && sizes.name <= kLongestAppendName &&
         sizes.bytes <= kLongestAppend;
}

// The sizes after the boot: a record of versions 1.1 and 1.2 holds one card and at most one
// log line, and does not know the card it was decided on.
bool TakeSizes(std::string_view& text, bool old, Head& head) {
  std::uint64_t count = 1;
  if (old) {
    head.record.change.before_known = false;
  } else if (!TakeHeadNumber(text, head.before) || head.before > kLongestCard) {
    return false;
  }
  if (!TakeHeadNumber(text, head.card) || head.card > kLongestCard ||
      (!old && (!TakeHeadNumber(text, count) || count > kMostAppends))) {
    return false;
  }
  head.appends.resize(count);
  for (Sizes& sizes : head.appends) {
    if (!TakeAppendSizes(text, sizes)) return false;
  }
  if (old && head.appends[0].name == 0) head.appends.clear();
  return text.empty();
}

// The head of the record at the front of |rest|, whose head line is whole.
std::optional<Head> ParseHead(std::string_view rest, std::size_t line_end) {
  const bool old = rest.starts_with(kOldRecordMagic);
  if (!old && !rest.starts_with(kRecordMagic)) return std::nullopt;
  Head head;
  const char mark = rest[kMarkOffset];
  std::string_view text = rest.substr(kMarkOffset + 2, line_end - kMarkOffset - 1);
  if ((mark != kPendingMark && mark != kCommittedMark && mark != kAppliedMark) ||
      rest[kMarkOffset + 1] != ' ' || !TakeWord(text, head.epoch) ||
      !TakeWord(text, head.record.boot) || !TakeSizes(text, old, head)) {
    return std::nullopt;
  }
  head.record.mark = mark;
  head.length = line_end + 1;
  return head;
}

std::size_t BodyLength(const Head& head) {
  std::size_t length = head.before + head.card;
  for (const Sizes& sizes : head.appends) length += sizes.name + sizes.bytes;
  return length;
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

// Whether |start| may be the beginning of a record of a known kind: its magic, mark and blank as
// far as they go. Only such a beginning followed by zeros is a record cut short.
bool KnownStart(std::string_view start) {
  for (const std::string_view magic : {kRecordMagic, kOldRecordMagic}) {
    for (const char mark : {kPendingMark, kCommittedMark, kAppliedMark}) {
      const std::string known = std::string(magic) + mark + ' ';
      const std::size_t n = std::min(start.size(), known.size());
      if (start.substr(0, n) == std::string_view(known).substr(0, n)) return true;
    }
  }
  return false;
}

std::string_view TakeField(std::string_view& body, std::uint64_t size) {
  const std::string_view field = body.substr(0, size);
  body.remove_prefix(field.size());
  return field;
}

enum class Take { kWhole, kTorn, kDamaged };

struct Taken {
  Take how = Take::kDamaged;
  JournalRecord record;
  std::string epoch;
  std::size_t next = 0;
};

Taken TakeJournalRecord(std::string_view bytes, std::size_t at, const BookRules& rules) {
  const std::string_view rest = bytes.substr(at);
  const std::string_view first = rest.substr(0, kLongestHead);
  const std::size_t line_end = first.find('\n');
  const std::size_t head_zero = first.find('\0');
  // Cut short in its head line: a known beginning, and nothing but zeros after.
  if (head_zero < line_end) {
    const bool torn = KnownStart(rest.substr(0, head_zero)) && ZerosFrom(rest, head_zero);
    return {torn ? Take::kTorn : Take::kDamaged, {}, {}, 0};
  }
  auto head = line_end == std::string_view::npos ? std::nullopt : ParseHead(rest, line_end);
  if (!head) return {};
  const std::size_t length = head->length + BodyLength(*head) + kRecordSumBytes;
  // Cut short in its fields: a zero where the record still had bytes to come, zeros after.
  const std::size_t zero = rest.substr(0, length).find('\0');
  if (zero < length && ZerosFrom(rest, zero)) return {Take::kTorn, {}, {}, 0};
  if (length > rest.size() || rest[length - 1] != '\n') return {};
  std::string_view sum_text = rest.substr(length - kRecordSumBytes, kRecordSumBytes);
  std::uint64_t sum = 0;
  const std::size_t covered = kMarkOffset + 1;
  if (!TakeHeadNumber(sum_text, sum, 16) || !sum_text.empty() ||
      sum != RecordChecksum(rest.substr(covered, length - kRecordSumBytes - covered))) {
    return {};
  }
  std::string_view body = rest.substr(head->length, length - head->length - kRecordSumBytes);
  Change& change = head->record.change;
  change.card_before = TakeField(body, head->before);
  change.card_line = TakeField(body, head->card);
  for (const Sizes& sizes : head->appends) {
    const std::string_view name = TakeField(body, sizes.name);
    change.appends.push_back(
        {std::string(name), sizes.at, std::string(TakeField(body, sizes.bytes))});
  }
  if (!IsSoundChange(change, rules)) return {};
  head->record.offset = at;
  return {Take::kWhole, std::move(head->record), std::move(head->epoch), at + length};
}

// Whether a whole record of generation |epoch| stands anywhere in |bytes| from |from| on.
bool HoldsRecordOf(std::string_view bytes, std::size_t from, const std::string& epoch,
                   const BookRules& rules) {
  for (const std::string_view magic : {kRecordMagic, kOldRecordMagic}) {
    for (std::size_t at = bytes.find(magic, from); at != std::string_view::npos;
         at = bytes.find(magic, at + 1)) {
      const Taken taken = TakeJournalRecord(bytes, at, rules);
      if (taken.how == Take::kWhole && taken.epoch == epoch) return true;
    }
  }
  return false;
}

}  // namespace

JournalScan ScanJournal(std::string_view bytes, const BookRules& rules) {
  JournalScan scan;
  if (!bytes.empty() && std::isdigit(static_cast<unsigned char>(bytes[0]))) {
    // Counted as applied, since it has no mark to set: it is put in place all the same.
    if (auto change = ReadOldCommitRecord(bytes, rules)) {
      scan.records.push_back({std::move(*change), 0, kAppliedMark, "-"});
    }
    scan.dirty_end = bytes.size();
    return scan;
  }
  std::size_t at = 0;
  while (at < bytes.size() && bytes[at] != '\0') {
    Taken taken = TakeJournalRecord(bytes, at, rules);
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
