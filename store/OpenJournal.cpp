// SPDX-License-Identifier: Apache-2.0
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cinttypes>
#include <cstdio>

#include "DataFiles.h"
#include "FileSeam.h"
#include "Journal.h"

namespace {

// Larger than any journal or 1.0.0 commit record: anything longer is not one.
constexpr std::size_t kLongestJournalFile = 2 * kJournalBytes;

// The boot as a record names it: one word, "-" when the machine does not tell, which makes
// every record count as written before a restart.
std::string ThisBoot() {
  std::string boot = BootId();
  for (char& c : boot) {
    if (!std::isgraph(static_cast<unsigned char>(c))) c = '_';
  }
  return boot.empty() || boot.size() > 64 ? "-" : boot;
}

// A new journal: created only where none is, and written whole in zeros.
bool CreateJournal(Journal& journal) {
  const std::string path = DataPath(kJournalName);
  journal.fd = OpenCreating(path, O_RDWR | O_EXCL | O_NOFOLLOW | O_CLOEXEC);
  journal.writable = true;
  journal.size = 0;
  journal.scan = JournalScan{};  // what a damaged one held is in place and durable
  if (journal.fd < 0) {
    ReportFileError(path);
    return false;
  }
  if (!WipeJournal(journal, 0, kJournalBytes) || !SyncDirectoryOf(path)) return false;
  journal.size = kJournalBytes;
  return true;
}

// Opens the journal and reads it whole; a missing one leaves |journal| without one.
bool OpenAndRead(Journal& journal, std::string& bytes) {
  const std::string path = DataPath(kJournalName);
  journal.fd = OpenOwnFile(path, false, journal.writable);
  if (journal.fd < 0 && errno == ENOENT) return true;
  if (journal.fd < 0) return false;
  struct stat info {};
  std::optional<std::string> read;
  if (fstat(journal.fd, &info) == 0) {
    if (static_cast<std::uint64_t>(info.st_size) > kLongestJournalFile)
      errno = EFBIG;
    else
      read = ReadFrom(journal.fd, static_cast<std::size_t>(info.st_size));
  }
  if (!read) {
    ReportFileError(path);
    return false;
  }
  bytes = std::move(*read);
  journal.size = bytes.size();
  return true;
}

// A commit record of version 1.0.0, which starts with a digit, is completed as that version
// completed it, or dropped when torn, and the file becomes a journal.
bool CompleteOldRecord(Journal& journal, const std::string& bytes) {
  const auto change = ParseCommitRecord(bytes, journal.rules);
  journal.scan.records.clear();
  // Counted as applied, since it has no mark to set: it is put in place all the same.
  if (change) journal.scan.records.push_back({*change, 0, kAppliedMark, "-"});
  journal.scan.dirty_end = bytes.size();
  return CheckpointJournal(journal);
}

// Keeps a damaged journal for inspection once the records before the damage are durable, and
// says so; the books go on from them.
bool KeepDamaged(Journal& journal) {
  const std::string path = DataPath(kJournalName);
  const std::uint64_t at = journal.scan.end;
  bool outside = false;
  if (!journal.writable || !ApplyJournal(journal, outside) || !SyncJournaledBooks(journal)) {
    return false;
  }
  std::string kept;
  for (int n = 1; n < 1000 && kept.empty(); ++n) {
    const std::string name = std::string(kDamagedJournalName) + std::to_string(n);
    if (SeamRename(path.c_str(), DataPath(name).c_str(), RENAME_NOREPLACE) == 0) kept = name;
    if (errno != EEXIST) break;
  }
  if (kept.empty() || !SyncDirectoryOf(path)) {
    ReportFileError(path);
    return false;
  }
  std::fprintf(stderr,
               "%s: %s: damaged record at byte %" PRIu64
               " not applied, nor any after it; the journal is kept as %s\n",
               program_invocation_short_name, path.c_str(), at, kept.c_str());
  CloseJournal(journal);
  return true;
}

// Whether the books show that the last record's flush failed: the card file whole (and, when the
// record replaces it, the card it was decided on), and every file it appends to no longer than
// before its bytes. A card and an append are put in place only once their record is durable, so
// anything else is one of them in place, or the writes of earlier changes lost by a disk pulled
// and mounted again, which a card file that is no whole card shows as well.
bool FlushFailed(const Journal& journal) {
  const Change& last = journal.scan.records.back().change;
  const auto card = ReadCard(journal.rules);
  if (!last.before_known || !card || !journal.rules.is_card_line(*card) ||
      (!last.card_line.empty() && *card != last.card_before)) {
    return false;
  }
  return std::all_of(last.appends.begin(), last.appends.end(), [](const AppendAt& append) {
    const int fd = OpenDataFile(DataPath(append.name), O_RDONLY);
    struct stat info {};
    const bool short_file =
        fd < 0 ? errno == ENOENT
               : fstat(fd, &info) == 0 && static_cast<std::uint64_t>(info.st_size) <= append.at;
    CloseFile(fd);
    return short_file;
  });
}

// Puts in place what may not be in place.
bool BringBooksUp(Journal& journal) {
  JournalScan& scan = journal.scan;
  if (scan.how == JournalEnd::kDamaged) return KeepDamaged(journal);
  const auto before_restart = [&](const JournalRecord& r) { return !WrittenThisBoot(journal, r); };
  if (std::any_of(scan.records.begin(), scan.records.end(), before_restart)) {
    return CheckpointJournal(journal);
  }
  // In this boot only the last record can be pending, since each commit first deals with the
  // one before. It is dropped only where the books say its flush failed: its writer then told
  // the passenger nothing but "File Write Error.", or died before it could tell anything. A mark
  // is written without a flush, so a disk that lost writes may show pending a change shown done.
  if (!scan.records.empty() && scan.records.back().mark == kPendingMark && FlushFailed(journal)) {
    if (!journal.writable || !WipeJournal(journal, scan.records.back().offset, scan.end)) {
      return false;
    }
    scan.end = scan.records.back().offset;
    scan.records.pop_back();
    if (scan.records.empty()) scan.epoch.clear();
  }
  bool outside = false;
  if (!ApplyJournal(journal, outside)) return false;
  // A card someone else wrote is the card from now on: later changes build on it, and a record
  // left in the journal must never put an older card back over it.
  if (outside) return CheckpointJournal(journal);
  // A record cut short, or what an interrupted checkpoint left: a new record must be written
  // over zeros.
  if (scan.dirty_end > scan.end && journal.writable) {
    if (!WipeJournal(journal, scan.end, scan.dirty_end)) return false;
    scan.dirty_end = scan.end;
  }
  return true;
}

}  // namespace

std::optional<Journal> OpenJournal(const BookRules& rules) {
  Journal journal;
  journal.boot = ThisBoot();
  journal.rules = rules;
  std::string bytes;
  bool ok = OpenAndRead(journal, bytes);
  if (ok && journal.fd >= 0 && !bytes.empty() &&
      std::isdigit(static_cast<unsigned char>(bytes[0]))) {
    ok = CompleteOldRecord(journal, bytes);
  } else if (ok && journal.fd >= 0) {
    journal.scan = ScanJournal(bytes, rules);
    ok = BringBooksUp(journal);
  }
  if (!ok) {
    CloseJournal(journal);
    return std::nullopt;
  }
  return journal;
}

bool ReadyForRecord(Journal& journal) {
  // A journal kept for its damage is replaced by a new one; one too short is made whole.
  if (journal.fd < 0 && !CreateJournal(journal)) return false;
  if (!journal.writable) {
    errno = EACCES;
    ReportFileError(DataPath(kJournalName));
    return false;
  }
  const JournalScan& scan = journal.scan;
  const bool full =
      scan.records.size() >= kCheckpointRecords || scan.end + kLongestJournalRecord > kJournalBytes;
  return (journal.size >= kJournalBytes && !full) || CheckpointJournal(journal);
}

void CloseJournal(Journal& journal) {
  CloseFile(journal.fd);
  journal.fd = -1;
}
