// SPDX-License-Identifier: Apache-2.0
// The journal's format, written down once for its writer and its reader.
//
// The journal is a file of kJournalBytes beside the card, written whole in zeros once and from
// then on only written over. Each change of the books is one record:
//   "FK" mark ' ' epoch ' ' boot ' ' before_size ' ' card_size ' ' appends, then for each append
//   ' ' name_size ' ' at ' ' bytes_size, and "\n"; then the card the change was decided on, the
//   new card, each append's file name and bytes; then RecordChecksum of all after the mark, as
//   16 hex digits, and "\n".
// The mark alone changes once a record is written. The epoch names a generation: a checkpoint
// starts one, so what an interrupted checkpoint left is never taken for current. The boot is
// the machine's boot the record was written in. Past the last record the journal is zeros, so a
// record cut short by a crash is the start of one of a known kind followed by nothing but zeros;
// anything else is damage. Records of versions 1.1 and 1.2 ("FJ": card_size name_size
// log_length line_size, then the card, the log's name and its line) are still read; they do not
// know the card they were decided on.
#pragma once

#include <algorithm>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "Books.h"

inline constexpr std::string_view kJournalName = "usercard.txt.farecard-journal";
// A damaged journal is kept for inspection under this name and a number.
inline constexpr std::string_view kDamagedJournalName = "usercard.txt.farecard-damaged-";
// A flush of a record is a pure data flush: no block to allocate, no size to record.
inline constexpr std::size_t kJournalBytes = std::size_t{64} * 1024;
// A checkpoint comes after this many records: it costs a flush of the card, its directory and
// each file appended to, so this many tags share it.
inline constexpr std::size_t kCheckpointRecords = 64;

inline constexpr std::string_view kRecordMagic = "FK";
inline constexpr std::string_view kOldRecordMagic = "FJ";  // versions 1.1 and 1.2
// The most a record holds: two cards, and a few appends of a few lines each to short names.
inline constexpr std::size_t kLongestAppend = 512;
inline constexpr std::size_t kLongestAppendName = 64;
inline constexpr std::size_t kMostAppends = 4;
inline constexpr std::size_t kLongestHead = 320;
inline constexpr std::size_t kRecordSumBytes = 17;  // 16 hex digits and a line end
inline constexpr std::size_t kLongestJournalRecord =
    kLongestHead + 2 * kLongestCard + kMostAppends * (kLongestAppendName + kLongestAppend) +
    kRecordSumBytes;

// Where in a record its mark stands, and the marks a record goes through. Written pending and
// flushed; marked committed once its writer saw the flush succeed, which is when the change is
// done; marked applied once its card and appends are in place. A mark is written without a
// flush (the next record's flush or the next checkpoint takes it to the disk), so recovery reads
// no more from it than whether a last record may be one whose flush failed.
inline constexpr std::size_t kMarkOffset = 2;
inline constexpr char kPendingMark = 'p';
inline constexpr char kCommittedMark = 'c';
inline constexpr char kAppliedMark = 'a';

// Bytes a change appends to one of the books' files, where that file ended when it was made.
struct AppendAt {
  std::string name;
  std::uint64_t at = 0;  // the file's length before the bytes: where they go
  std::string bytes;
};

// Everything one change of the books changes.
struct Change {
  // The card file's content the change was decided on; empty when it held no card. A record
  // written before versions kept it does not know it (|before_known| false).
  std::string card_before;
  bool before_known = true;
  std::string card_line;  // the card file's new content; empty: the card stays as it is
  std::vector<AppendAt> appends;
};

// One record of the journal.
struct JournalRecord {
  Change change;
  std::uint64_t offset = 0;  // where it starts in the journal
  char mark = kPendingMark;  // as the boot it was written in saw it
  std::string boot;          // the boot it was written in (BootId); "-" when not known
};

// FNV-1a over 64-bit words: a change of any one word changes the result, and a journal full of
// records is checked in a few microseconds.
inline std::uint64_t RecordChecksum(std::string_view bytes) {
  std::uint64_t hash = 14695981039346656037ULL;
  for (; bytes.size() >= 8; bytes.remove_prefix(8)) {
    std::uint64_t word = 0;
    std::memcpy(&word, bytes.data(), 8);
    hash = (hash ^ word) * 1099511628211ULL;
  }
  for (const char c : bytes) hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ULL;
  return hash ^ (hash >> 29);
}

// Takes one number in |base| and the single blank or line end after it from the front of a
// record's head |text|. False, |text| as it was, for anything else.
inline bool TakeHeadNumber(std::string_view& text, std::uint64_t& out, int base = 10) {
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out, base);
  if (ec != std::errc() || end == text.data() || end == text.data() + text.size()) return false;
  if (*end != ' ' && *end != '\n') return false;
  text.remove_prefix(static_cast<std::size_t>(end - text.data()) + 1);
  return true;
}

// Whether |change| may stand in a record: its cards are cards by |rules| (or empty), and each
// append goes to a file of theirs and is whole lines.
inline bool IsSoundChange(const Change& change, const BookRules& rules) {
  const auto card = [&](const std::string& line) {
    return line.empty() || rules.is_card_line(line);
  };
  return card(change.card_before) && card(change.card_line) &&
         std::all_of(change.appends.begin(), change.appends.end(), [&](const AppendAt& append) {
           return rules.is_appended_name(append.name) && !append.bytes.empty() &&
                  append.bytes.back() == '\n';
         });
}
