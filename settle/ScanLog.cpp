#include "ScanLog.h"

#include <charconv>

namespace {

constexpr int kFieldsPerRecord = 11;

// The text being scanned: where it ends, and whether that is the end of the log.
struct Text {
  const char* end;
  bool is_last;
};

// Blank as the log's stream format counts it. Fields are digits and letters, all above the
// space, so one comparison settles the common case.
bool IsBlank(char c) {
  return static_cast<unsigned char>(c) <= ' ' && (c == ' ' || (c >= '\t' && c <= '\r'));
}

const char* SkipBlanks(const char* at, const char* end) {
  while (at != end && IsBlank(*at)) ++at;
  return at;
}

// Whether a field that stops at |stop| is whole: followed by a blank or by the end of the log.
// A field that runs into the end of a piece may go on in the next one.
bool EndsField(const char* stop, const Text& text) {
  return stop == text.end ? text.is_last : IsBlank(*stop);
}

// Where to look for the next field after a whole field that stops at |stop|: past the blank
// that ended it, which need not be tested again.
const char* PastField(const char* stop, const Text& text) {
  return stop == text.end ? stop : stop + 1;
}

// Each Take function parses the field after |at| into |out| and returns where to look for the
// next one, or nullptr when it is not whole and valid; a nullptr |at| passes straight through, so a
// record reads as a plain sequence of takes. from_chars does the scanning and the range check
// in one pass over the digits, which is most of the cost of a settlement run.
template <typename Number>
const char* TakeNumber(const char* at, const Text& text, Number& out) {
  if (at == nullptr) return nullptr;
  at = SkipBlanks(at, text.end);
  // A leading plus is a valid sign for the log's number format; from_chars knows only minus,
  // and must not be handed a minus after the plus.
  if (at != text.end && *at == '+' && at + 1 != text.end && at[1] != '-') ++at;
  const auto [stop, error] = std::from_chars(at, text.end, out);
  return error == std::errc() && EndsField(stop, text) ? PastField(stop, text) : nullptr;
}

const char* TakeLetter(const char* at, const Text& text, char& out) {
  if (at == nullptr) return nullptr;
  at = SkipBlanks(at, text.end);
  if (at == text.end || !EndsField(at + 1, text)) return nullptr;
  out = *at;
  return PastField(at + 1, text);
}

const char* TakeRecord(const char* at, const Text& text, LogEntry& e) {
  at = TakeNumber(at, text, e.termId);
  at = TakeNumber(at, text, e.baseFee);
  at = TakeNumber(at, text, e.missedOffFee);
  at = TakeNumber(at, text, e.additionalFee);
  at = TakeNumber(at, text, e.cardId);
  at = TakeLetter(at, text, e.transfer);
  at = TakeNumber(at, text, e.prevFare);
  at = TakeLetter(at, text, e.prevVehicle);
  at = TakeLetter(at, text, e.inOut);
  at = TakeNumber(at, text, e.tagTime);
  return TakeNumber(at, text, e.stamp);
}

// Whether the record at |at| has all its fields whole within the text. Asked only after a
// failed take: if they are not, the failure may be the cut of a piece, not damage.
bool RecordFits(const char* at, const Text& text) {
  for (int field = 0; field < kFieldsPerRecord; ++field) {
    at = SkipBlanks(at, text.end);
    if (at == text.end) return false;
    while (at != text.end && !IsBlank(*at)) ++at;
    if (!EndsField(at, text)) return false;
  }
  return true;
}

}  // namespace

ScanResult ScanLog(std::string_view text, bool is_last, EntryTable& table) {
  const Text whole{text.data() + text.size(), is_last};
  const char* at = text.data();
  while (true) {
    at = SkipBlanks(at, whole.end);
    const auto consumed = static_cast<std::size_t>(at - text.data());
    if (at == whole.end) return {consumed, is_last ? ScanStop::kEndOfLog : ScanStop::kNeedMore};
    LogEntry entry;
    const char* after = TakeRecord(at, whole, entry);
    if (after == nullptr) {
      const bool may_go_on = !is_last && !RecordFits(at, whole);
      return {consumed, may_go_on ? ScanStop::kNeedMore : ScanStop::kDamaged};
    }
    table.push_back(entry);
    at = after;
  }
}
