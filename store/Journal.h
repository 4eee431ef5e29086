// SPDX-License-Identifier: Apache-2.0
// The store's engine, seen only inside store/: the journal open, its reader and writer (the
// format is in JournalFormat.h), the recovery that brings the books up to it, and the checkpoint
// that makes what it holds durable and empties it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "JournalFormat.h"

// How the records of a journal end.
enum class JournalEnd {
  kClean,    // in zeros, or in records left by an earlier generation
  kTorn,     // in a record cut short by a crash while it was written: it never committed
  kDamaged,  // in a record that was whole once and is not any more, or one of no known kind
};

// What a journal holds.
struct JournalScan {
  std::vector<JournalRecord> records;  // the records of the current generation, in order
  std::string epoch;                   // the current generation; empty when there is none yet
  std::uint64_t end = 0;               // where the next record goes
  std::uint64_t dirty_end = 0;         // past the last byte that is not zero (at least |end|)
  JournalEnd how = JournalEnd::kClean;
};

// The journal as the holder of the card lock sees it, open.
struct Journal {
  int fd = -1;             // -1: there is no journal
  bool writable = false;   // opened for writing
  std::uint64_t size = 0;  // of the file
  JournalScan scan;
  std::string boot;  // the running boot, as records name it
  BookRules rules;
};

// Whether |books| are held, as a change needs them; when not, says so on standard error.
bool HeldForChange(const HeldBooks& books);

// The reader (ReadJournal.cpp).
// Reads journal bytes |bytes|: the whole records of one generation, in order, whose cards and
// appends |rules| take for theirs, stopping at the first that is not and telling how. A file
// that holds the commit record of version 1.0.0 (which starts with a digit) gives its change as
// one record counted as written before a restart, so that it is completed, or none when it is
// torn.
JournalScan ScanJournal(std::string_view bytes, const BookRules& rules);

// The change in the 1.0.0 commit record |record|, when the record is whole: the checksum
// matches, the card line is one by |rules|, the log is one of theirs and its line whole lines.
std::optional<Change> ReadOldCommitRecord(std::string_view record, const BookRules& rules);

// The writer (WriteRecord.cpp).
// The record of |change| in generation |epoch|, written in boot |boot|, marked pending.
std::string FormatJournalRecord(const Change& change, std::string_view epoch,
                                std::string_view boot);

// Appends the record of |change| to |journal| and takes it through the commit point. Needs the
// card lock and a journal ready for a record (see CommitChange). True once the record is
// durable, the record then last in |journal|'s scan. False, with the detail on standard error,
// when it did not commit: the record is then wiped if the disk lets it.
[[nodiscard]] bool AppendJournalRecord(Journal& journal, const Change& change);

// The commit point: flushes the pending |record| written to |journal| with one device flush,
// then marks it committed. Once it returns true the change is in the books.
[[nodiscard]] bool CommitPoint(Journal& journal, JournalRecord& record);

// Marks |record| of |journal| with |mark|, without a flush. False when the mark was not written.
bool MarkJournal(Journal& journal, JournalRecord& record, char mark);

// Writes zeros over bytes |from| to |to| of |journal| and flushes them. Needs the card lock and
// a journal opened for writing. False, detail on standard error.
[[nodiscard]] bool WipeJournal(Journal& journal, std::uint64_t from, std::uint64_t to);

// The file (OpenJournal.cpp).
// Opens the journal, when there is one, and reads it, as |rules| tell its records; a missing
// one leaves |journal| without one (fd -1). Nothing is put in place. False, detail on standard
// error, when it cannot be opened or read.
[[nodiscard]] bool OpenJournal(const BookRules& rules, Journal& journal);

// Makes a new journal where none is: created exclusively and written whole in zeros. False,
// detail on standard error.
[[nodiscard]] bool CreateJournal(Journal& journal);

// Closes |journal|.
void CloseJournal(Journal& journal);

// Recovery (Recover.cpp): every rule of what is put back, dropped or kept.
// Brings the books up to |journal|: puts in place every record that may not be, drops a last
// record whose flush failed, checkpoints one of an earlier boot or a card someone else wrote, and
// keeps a damaged journal aside, named on standard error. Needs the card lock. False, detail
// said, when the books cannot be brought up.
[[nodiscard]] bool BringBooksUp(Journal& journal);

// Puts every record of |journal| in place by the rules of recovery, then checkpoints it: the
// books durable, the journal empty. Needs the card lock. False, detail on standard error; the
// records then stay, to be put in place and checkpointed again.
[[nodiscard]] bool PutInPlaceAndCheckpoint(Journal& journal);

// Putting back (PutBack.cpp): the writes recovery decides on.
// Makes each file |records| append to hold their bytes at the recorded lengths (at the end of a
// file found shorter), writing only what differs and naming on standard error what is written
// over other bytes, not a file filled. No flush. Doing it twice does no harm.
[[nodiscard]] bool PutAppendsBack(const std::vector<JournalRecord>& records);

// Replaces the card file of |rules| with the card of |record|, naming that on standard error
// when |over_whole_card|. No flush.
[[nodiscard]] bool PutCardBack(const BookRules& rules, const JournalRecord& record,
                               bool over_whole_card);

// Reads the card file of |rules|, as far as a card can reach. Nothing when it cannot be read.
std::optional<std::string> ReadCard(const BookRules& rules);

// The checkpoint (Checkpoint.cpp).
// Makes the books durable and empties |journal|: the card, its directory and each file the
// records append to flushed, then the journal written over with zeros and flushed. Needs the
// card lock and the records in place. False, detail on standard error; the records then stay.
[[nodiscard]] bool CheckpointJournal(Journal& journal);

// Flushes what the records of |journal| changed: the card, its directory, the data directory
// and each file they append to. Needs the card lock, and the records in place.
[[nodiscard]] bool SyncJournaledBooks(const Journal& journal);
