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

// Bytes a change appends to one of the books' files, where that file ended when it was made.
struct AppendAt {
  std::string name;
  std::uint64_t at = 0;  // the file's length before the bytes: where they go
  std::string bytes;
};

// Everything one change of the books changes.
struct Change {
  // The card file's content the change was decided on; empty when it held no card. A record
  // written before this was kept does not know it (|before_known| false).
  std::string card_before;
  bool before_known = true;
  std::string card_line;  // the card file's new content; empty: the card stays as it is
  std::vector<AppendAt> appends;
};

// The journal file. A record is a head line, the fields it sizes, and a checksum:
//   "FK" mark ' ' epoch ' ' boot ' ' before_size ' ' card_size ' ' appends, then for each
//   append ' ' name_size ' ' at ' ' bytes_size, and "\n"
//   the card before, the card, each append's name and bytes, the checksum as 16 hex digits, "\n"
// The checksum (FNV-1a over 64-bit words) covers all after the mark, which alone changes once
// written. Records of versions 1.1 and 1.2 ("FJ": card_size name_size log_length line_size,
// then the card, the log's name and its line) are still read. Past the last record the journal
// is zeros, so a record cut short by a crash is the start of one followed by nothing but zeros,
// and anything else is damage: a head this version does not know is never taken for a torn
// record. The epoch names a generation: a checkpoint starts one, so what an interrupted
// checkpoint left is never taken for current.
inline constexpr std::string_view kJournalName = "usercard.txt.farecard-journal";
// A damaged journal is kept for inspection under this name and a number.
inline constexpr std::string_view kDamagedJournalName = "usercard.txt.farecard-damaged-";
// Written whole once, in zeros, and from then on only written over: a flush of a record is
// then a pure data flush, with no block to allocate and no size to record.
inline constexpr std::size_t kJournalBytes = std::size_t{64} * 1024;
// A checkpoint comes after this many records: it costs a flush of the card, its directory and
// each file appended to, so this many tags share it.
inline constexpr std::size_t kCheckpointRecords = 64;
// The most a record holds: two cards, and a few appends of a few lines each to short names.
inline constexpr std::size_t kLongestAppend = 512;
inline constexpr std::size_t kLongestAppendName = 64;
inline constexpr std::size_t kMostAppends = 4;
inline constexpr std::size_t kLongestHead = 320;
inline constexpr std::size_t kLongestJournalRecord =
    kLongestHead + 2 * kLongestCard + kMostAppends * (kLongestAppendName + kLongestAppend) + 17;

// Where in a record its mark stands, and the marks a record goes through. Written pending and
// flushed; marked committed once its writer saw the flush succeed, which is when the tag is
// done; marked applied once its card and appends are in place. A mark is written without a
// flush (the next record's flush or the next checkpoint takes it to the disk), so recovery reads
// no more from it than whether a last record may be one whose flush failed.
inline constexpr std::size_t kMarkOffset = 2;
inline constexpr char kPendingMark = 'p';
inline constexpr char kCommittedMark = 'c';
inline constexpr char kAppliedMark = 'a';

// One record of the journal.
struct JournalRecord {
  Change change;
  std::uint64_t offset = 0;  // where it starts in the journal
  char mark = kPendingMark;  // as the boot it was written in saw it
  std::string boot;          // the boot it was written in (BootId); "-" when not known
};

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

// The record of |change| in generation |epoch|, written in boot |boot|, marked pending.
std::string FormatJournalRecord(const Change& change, std::string_view epoch,
                                std::string_view boot);

// Reads the records of journal bytes |bytes|: whole ones of one generation, in order, whose
// cards and appends |rules| take for theirs. Stops at the first that is not, and tells how it
// stopped.
JournalScan ScanJournal(std::string_view bytes, const BookRules& rules);

// The commit record of version 1.0.0, which the journal replaced: the sizes of the card line,
// the log's name and its line, the log's length, the fields and a checksum. A journal file that
// holds one is completed once and then turned into a journal.
std::string FormatCommitRecord(const Change& change);

// The change in a 1.0.0 |record|, when the record is whole: the checksum matches, the card line
// is one by |rules|, the log is one of theirs and its line is one line. Nothing otherwise.
std::optional<Change> ParseCommitRecord(std::string_view record, const BookRules& rules);

// Takes one number in |base| and the single blank or line end after it from the front of a
// record's |text|, as the commit records and the journal's heads write them. False, |text| as
// it was, for anything else.
bool TakeHeadNumber(std::string_view& text, std::uint64_t& out, int base = 10);

// Whether |change| may stand in a record: its cards are cards by |rules| (or empty), and each
// append goes to a file of theirs and is whole lines.
bool IsSoundChange(const Change& change, const BookRules& rules);

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
// disk pulled and mounted again, so only the card and the appended files tell what is in place.
// The card is put back only where the disk provably lost it (see ApplyCard); a card that someone
// else wrote stands, and |outside| tells so. What is written over bytes that differ is named on
// standard error. No flush. Needs the card lock. False on a failed write.
[[nodiscard]] bool ApplyJournal(Journal& journal, bool& outside);

// Flushes what the records of |journal| changed: the card, its directory, the data directory
// and each file they append to. Needs the card lock, and the records put in place.
[[nodiscard]] bool SyncJournaledBooks(const Journal& journal);

// Writes zeros over bytes |from| to |to| of |journal| and flushes them. Needs the card lock and
// a journal opened for writing.
[[nodiscard]] bool WipeJournal(Journal& journal, std::uint64_t from, std::uint64_t to);

// Appends the record of |change| to |journal| and takes it through the commit point. Needs the
// card lock and a journal ReadyForRecord. Returns the record. Nothing, with the detail on
// standard error, when it did not commit: the record is wiped if the disk lets it, and in this
// boot a pending record is dropped while the books show that its flush failed.
std::optional<JournalRecord> AppendJournalRecord(Journal& journal, const Change& change);

// The commit point: flushes the pending |record| written to |journal| with one device flush,
// then marks it committed. Once it returns true the change is in the books.
[[nodiscard]] bool CommitPoint(Journal& journal, JournalRecord& record);

// Marks |record| of |journal| with |mark|, without a flush. False when the mark was not written.
bool MarkJournal(Journal& journal, JournalRecord& record, char mark);

// Makes each file |records| append to hold their bytes at the recorded lengths (at the end of
// a file found shorter), reading each file once and writing only what differs: what is written
// over bytes that differ is named on standard error, filling a file found shorter is not. No
// flush. Needs the card lock. Doing it twice does no harm, which is what lets recovery repeat a
// commit.
[[nodiscard]] bool ApplyAppends(const std::vector<JournalRecord>& records);

// What the card file holds, against the cards of a journal's records.
enum class CardFound {
  kInPlace,  // the last record's card
  kLost,     // missing, empty, cut short or no card: what a disk that lost writes leaves
  kEarlier,  // a card the records hold as written before the last one's: a change cut off
             // before its card was replaced, or writes the disk lost
  kOutside,  // a whole card that no record holds: someone else wrote it, and it stands
};

// Where the card file of |journal| stands against its records' cards (|card| read from it,
// nothing when it could not be read). A card that a record holds is one the terminals wrote,
// and so one a disk may give back when it loses later writes; any other whole card was written
// by someone else (an operator's top-up, issuer of another version, an editor) and is the card.
CardFound FindCard(const Journal& journal, const std::optional<std::string>& card);

// Reads the card file of |rules|, as far as a card can reach. Nothing when it cannot be read.
std::optional<std::string> ReadCard(const BookRules& rules);

// Closes |journal|.
void CloseJournal(Journal& journal);
