#include "ScanLog.h"

#include <charconv>
#include <cstdint>

namespace {

// The outcome of taking one field.
enum class Take { kOk, kOutOfText, kBad };

bool IsBlank(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// A position in the text being scanned; |failure| says why the last take failed.
struct Cursor {
  const char* at;
  const char* end;
  bool is_last;
  Take failure = Take::kOk;
};

void SkipBlanks(Cursor& cursor) {
  while (cursor.at != cursor.end && IsBlank(*cursor.at)) ++cursor.at;
}

// Takes the next run of non-blank characters. A run that reaches the end of a text that is not
// the end of the log may go on in the next piece, so it is not taken yet.
bool TakeField(Cursor& cursor, std::string_view& field) {
  SkipBlanks(cursor);
  const char* start = cursor.at;
  while (cursor.at != cursor.end && !IsBlank(*cursor.at)) ++cursor.at;
  if (start == cursor.at || (cursor.at == cursor.end && !cursor.is_last)) {
    cursor.failure = Take::kOutOfText;
    return false;
  }
  field = std::string_view(start, static_cast<std::size_t>(cursor.at - start));
  return true;
}

template <typename Number>
bool TakeNumber(Cursor& cursor, Number& out) {
  std::string_view field;
  if (!TakeField(cursor, field)) return false;
  // A leading plus is a valid sign for the stream's number format; from_chars knows only minus.
  if (field.size() > 1 && field[0] == '+' && field[1] >= '0' && field[1] <= '9') {
    field.remove_prefix(1);
  }
  const char* last = field.data() + field.size();
  const auto [stop, error] = std::from_chars(field.data(), last, out);
  if (error != std::errc() || stop != last) {
    cursor.failure = Take::kBad;
    return false;
  }
  return true;
}

bool TakeLetter(Cursor& cursor, char& out) {
  std::string_view field;
  if (!TakeField(cursor, field)) return false;
  if (field.size() != 1) {
    cursor.failure = Take::kBad;
    return false;
  }
  out = field[0];
  return true;
}

// Takes the eleven fields of one record, in log order.
Take TakeRecord(Cursor& cursor, LogEntry& entry) {
  cursor.failure = Take::kOk;
  const bool whole = TakeNumber(cursor, entry.termId) && TakeNumber(cursor, entry.baseFee) &&
                     TakeNumber(cursor, entry.missedOffFee) &&
                     TakeNumber(cursor, entry.additionalFee) && TakeNumber(cursor, entry.cardId) &&
                     TakeLetter(cursor, entry.transfer) && TakeNumber(cursor, entry.prevFare) &&
                     TakeLetter(cursor, entry.prevVehicle) && TakeLetter(cursor, entry.inOut) &&
                     TakeNumber(cursor, entry.tagTime) && TakeNumber(cursor, entry.stamp);
  return whole ? Take::kOk : cursor.failure;
}

}  // namespace

ScanResult ScanLog(std::string_view text, bool is_last, EntryTable& table) {
  Cursor cursor{text.data(), text.data() + text.size(), is_last};
  while (true) {
    SkipBlanks(cursor);
    const auto consumed = static_cast<std::size_t>(cursor.at - text.data());
    if (cursor.at == cursor.end) {
      return {consumed, is_last ? ScanStop::kEndOfLog : ScanStop::kNeedMore};
    }
    LogEntry entry;
    const Take taken = TakeRecord(cursor, entry);
    if (taken == Take::kBad || (taken == Take::kOutOfText && is_last)) {
      return {consumed, ScanStop::kDamaged};
    }
    if (taken == Take::kOutOfText) return {consumed, ScanStop::kNeedMore};
    table.push_back(entry);
  }
}
