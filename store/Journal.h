// SPDX-License-Identifier: Apache-2.0
// The store's engine, seen only inside store/. Every change of the books is one checksummed
// record appended to the journal beside the card; its one device flush is the commit point.
// Card and log line are put in place after it without flushes; a checkpoint makes them durable
// and empties the journal. Recovery (the next holder of the card lock) checks every record
// against the card and the logs and puts in place what is not: each record carries its log's
// length before its line, so doing it twice is harmless.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Books.h"

// Everything one change of the books changes.
struct CardCommit {
  std::string card_line;         // the card file's new content
  LogAppend log;                 // the line it appends, if any
  std::uint64_t log_length = 0;  // the log's length before the line: where the line goes
};

// The journal file. A record is a head line, the three fields it sizes, and a checksum:
//   "FJ" mark ' ' epoch ' ' boot ' ' card_size ' ' name_size ' ' log_length ' ' line_size "\n"
//   card line, log name, log line, checksum as 16 hex digits, "\n"
// The checksum (FNV-1a over 64-bit words) covers all after the mark, which alone changes once
// written. Past the last record the journal is zeros, so a record cut short by a crash is one
// followed by nothing but zeros, and any other fault damage. The epoch names a generation: a
// checkpoint starts one, so what an interrupted checkpoint left is never taken for current.
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
// flush (the next record's flush or the next checkpoint takes it to the disk), so recovery reads
// no more from it than whether a last record may be one whose flush failed.
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

// Reads the records of journal bytes |bytes|: whole ones of one generation, in order, whose card
// line and log |rules| take for theirs. Stops at the first that is not, and tells how it stopped.
JournalScan ScanJournal(std::string_view bytes, const BookRules& rules);

// |head| followed by the sizes of |commit|'s three fields, its log length and the fields: the
// part that the commit records of version 1.0.0 and the journal's records share.
std::string CommitBody(std::string_view head, const CardCommit& commit);

// The commit record of version 1.0.0, which the journal replaced: its fields and a checksum. A
// journal file that holds one is completed once and then turned into a journal.
std::string FormatCommitRecord(const CardCommit& commit);

// The commit in a 1.0.0 |record|, when the record is whole: the checksum matches, the card line
// is one by |rules|, the log is one of theirs and its line is one line. Nothing otherwise.
std::optional<CardCommit> ParseCommitRecord(std::string_view record, const BookRules& rules);

// Takes one number in |base| and the single blank or line end after it from the front of a
// record's |text|, as the commit records and the journal's heads write them. False, |text| as
// it was, for anything else.
bool TakeNumber(std::string_view& text, std::uint64_t& out, int base = 10);

// Whether |commit|'s log part may stand in a record: no log and no line, or a log of |rules|
// and one line ending in "\n".
bool IsSoundLog(const CardCommit& commit, const BookRules& rules);

// The journal as the holder of the card lock sees it, open.
struct Journal {
  int fd = -1;             // -1: there is no journal
  bool writable = false;   // opened for writing
  std::uint64_t size = 0;  // of the file
  JournalScan scan;
  std::string boot;  // the running boot, as records name it
  BookRules rules;
};

// Opens the journal, when there is one, and brings the books up to it: puts in place every
// record that may not be in place, completes or drops a commit record left by version 1.0.0,
// checkpoints a journal that holds records of an earlier boot, and keeps a damaged one for
// inspection (named on standard error), leaving none. Needs the card lock. Nothing, with the
// detail on standard error, when the books cannot be brought up to it.
std::optional<Journal> OpenJournal(const BookRules& rules);

// Leaves |journal| as a new record needs it: created when there is none, made whole when
// short, checkpointed when full, and open for writing. False, detail on standard error, when
// it cannot be.
[[nodiscard]] bool ReadyForRecord(Journal& journal);

// The journal the holder of the card lock opened in LockBooks, kept open for the change that
// follows so that a tag reads it once; nothing when this process holds no lock.
Journal* HeldJournal();

// Makes the books durable and empties |journal|: every record put in place, the card, its
// directory and each log it names flushed, then the journal written over with zeros and
// flushed. Needs the card lock. False (detail on standard error) when any step fails; the
// records then stay, to be put in place and checkpointed again.
[[nodiscard]] bool CheckpointJournal(Journal& journal);

// Whether |record| of |journal| was written in the running boot: only then may a record still
// pending be one whose writer saw its flush fail; after a restart it may be a change shown done.
bool WrittenThisBoot(const Journal& journal, const JournalRecord& record);

// Puts in place every record of |journal|, whatever its mark says, writing only what differs,
// and marks them applied: what a mark stands for may have been lost with the power or with a
// disk pulled and mounted again, so only the card and the logs tell what is in place. No flush.
// Needs the card lock. False on a failed write.
[[nodiscard]] bool ApplyJournal(Journal& journal);

// Flushes what the records of |journal| changed: the card, its directory, the data directory
// and each log they name. Needs the card lock, and the records put in place.
[[nodiscard]] bool SyncJournaledBooks(const Journal& journal);

// Writes zeros over bytes |from| to |to| of |journal| and flushes them. Needs the card lock and
// a journal opened for writing.
[[nodiscard]] bool WipeJournal(Journal& journal, std::uint64_t from, std::uint64_t to);

// Appends the record of |commit| to |journal| and takes it through the commit point. Needs the
// card lock and a journal ReadyForRecord. Returns the record. Nothing, with the detail on
// standard error, when it did not commit: the record is wiped if the disk lets it, and in this
// boot a pending record is dropped while the books show that its flush failed.
std::optional<JournalRecord> AppendJournalRecord(Journal& journal, const CardCommit& commit);

// The commit point: flushes the pending |record| written to |journal| with one device flush,
// then marks it committed. Once it returns true the change is in the books.
[[nodiscard]] bool CommitPoint(Journal& journal, JournalRecord& record);

// Marks |record| of |journal| with |mark|, without a flush. False when the mark was not written.
bool MarkJournal(Journal& journal, JournalRecord& record, char mark);

// Makes each log |records| name hold their lines at the recorded lengths (at the end of a log
// found shorter), reading each log once and writing only what differs. No flush. Needs the card
// lock. Doing it twice does no harm, which is what lets recovery repeat a commit.
[[nodiscard]] bool ApplyLogLines(const std::vector<JournalRecord>& records);

// Makes the card file of |rules| hold |card_line|, a line |rules| take for a card (as every
// record read or written holds), replacing it only when it differs. No flush.
[[nodiscard]] bool ApplyCardLine(const BookRules& rules, std::string_view card_line);

// Closes |journal|.
void CloseJournal(Journal& journal);
