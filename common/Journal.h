// SPDX-License-Identifier: Apache-2.0
// The journal beside the card: every change of the books (a tag's new card and its log line,
// or a card the issuer writes) is one checksummed record appended to it, and the record made
// durable with one device flush is the commit point. The card and the log line are put in
// place after it without flushes of their own; a checkpoint makes them durable every so many
// records, and before any change the journal does not hold, then empties the journal. So
// recovery (the next holder of the card lock) puts in place any record not yet in place, in
// order, and after a power cut every record since the last checkpoint: each record carries the
// log's length before its line, so doing it twice does no harm.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "CardCommit.h"

inline constexpr std::string_view kJournalName = "usercard.txt.farecard-journal";
// A damaged journal is kept for inspection under this name and a number.
inline constexpr std::string_view kDamagedJournalName = "usercard.txt.farecard-damaged-";
// Written whole once, in zeros, and from then on only written over: a flush of a record is
// then a pure data flush, with no block to allocate and no size to record.
inline constexpr std::size_t kJournalBytes = std::size_t{64} * 1024;
// A checkpoint comes after this many records: it costs a flush of the card, its directory and
// each log, so this many tags share it.
inline constexpr std::size_t kCheckpointRecords = 64;
// The longest record: a card line and a log line are under 256 bytes each.
inline constexpr std::size_t kLongestJournalLine = 256;
inline constexpr std::size_t kLongestJournalRecord = 256 + 2 * kLongestJournalLine;

// Where in a record its mark stands, and the marks a record goes through. Written pending and
// flushed; marked committed once its writer saw the flush succeed, which is when the tag is
// done; marked applied once its card and log line are in place. A mark is written without a
// flush: the next record's flush or the next checkpoint takes it to the disk.
inline constexpr std::size_t kMarkOffset = 2;
inline constexpr char kPendingMark = 'p';
inline constexpr char kCommittedMark = 'c';
inline constexpr char kAppliedMark = 'a';

// One record of the journal.
struct JournalRecord {
  CardCommit commit;
  std::uint64_t offset = 0;  // where it starts in the journal
  char mark = kPendingMark;  // as the boot it was written in saw it
  std::string boot;          // the boot it was written in (BootId)
};

// How the records of a journal end.
enum class JournalEnd {
  kClean,    // in zeros, or in records left by an earlier generation
  kTorn,     // in a record cut short by a crash while it was written: it never committed
  kDamaged,  // in a record that was whole once and is not any more
};

// What a journal holds.
struct JournalScan {
  std::vector<JournalRecord> records;  // the records of the current generation, in order
  std::string epoch;                   // the current generation; empty when there is none yet
  std::uint64_t end = 0;               // where the next record goes
  std::uint64_t dirty_end = 0;         // past the last byte that is not zero (at least |end|)
  JournalEnd how = JournalEnd::kClean;
};

// The record of |commit| in generation |epoch|, written in boot |boot|, marked pending.
std::string FormatJournalRecord(const CardCommit& commit, std::string_view epoch,
                                std::string_view boot);

// Reads the records of journal bytes |bytes|: whole ones of one generation, in order. Stops at
// the first that is not, and tells how it stopped.
JournalScan ScanJournal(std::string_view bytes);

// The journal as the holder of the card lock sees it, open.
struct Journal {
  int fd = -1;             // -1: there is no journal
  bool writable = false;   // opened for writing
  std::uint64_t size = 0;  // of the file
  JournalScan scan;
  std::string boot;  // the running boot, as records name it
};

// Opens the journal and brings the books up to it: puts in place every record that may not be
// in place, completes or drops a commit record left by version 1.0.0, checkpoints a journal
// that is full or holds records of an earlier boot, and keeps a damaged one for inspection
// (named on standard error) and starts anew. When |create|, a missing journal is created.
// Needs the card lock. Nothing, with the detail on standard error, when the books cannot be
// brought up to it.
std::optional<Journal> OpenJournal(bool create);

// Makes the books durable and empties |journal|: every record put in place, the card, its
// directory and each log it names flushed, then the journal written over with zeros and
// flushed. Needs the card lock. False (detail on standard error) when any step fails; the
// records then stay, to be put in place and checkpointed again.
[[nodiscard]] bool CheckpointJournal(Journal& journal);

// Whether |record| of |journal| was written in the running boot: only then do its marks tell
// what is in place, since after a restart what they marked may have been lost with the power.
bool WrittenThisBoot(const Journal& journal, const JournalRecord& record);

// The first record of |journal| not known to be in place (marked applied in this boot).
std::size_t FirstNotInPlace(const Journal& journal);

// Puts in place the records of |journal| from |first| on, writing only what differs, and
// marks them applied (a lost mark only has a record put in place once more). No flush. Needs the
// card lock. False on a failed write.
[[nodiscard]] bool ApplyJournal(Journal& journal, std::size_t first);

// Flushes what |records| changed: the card, its directory, the data directory and each log
// they name. Needs the card lock, and the records put in place.
[[nodiscard]] bool SyncJournaledBooks(const std::vector<JournalRecord>& records);

// Writes zeros over bytes |from| to |to| of |journal| and flushes them. Needs the card lock.
[[nodiscard]] bool WipeJournal(Journal& journal, std::uint64_t from, std::uint64_t to);

// Appends the record of |commit| to |journal|, flushes it and marks it committed: the commit
// point. Needs the card lock and a journal from OpenJournal(true), which leaves room for a
// record. Returns the record. Nothing, with the detail on standard error, when the flush or
// the mark failed: the record is wiped if the disk lets it, and in this boot a pending record
// is never put in place anyway.
std::optional<JournalRecord> AppendJournalRecord(Journal& journal, const CardCommit& commit);

// Marks |record| of |journal| with |mark|, without a flush. False when the mark was not written.
bool MarkJournal(Journal& journal, JournalRecord& record, char mark);

// Closes |journal|.
void CloseJournal(Journal& journal);
