// SPDX-License-Identifier: Apache-2.0
// One fuzz target per reader of outside input, chosen by FUZZ_TARGET, holds it on any bytes to a
// plain reading written apart from its code, aborting on a broken property so libFuzzer keeps it.
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <utility>

#include "Card.h"
#include "ConsoleInput.h"
#include "FareEntries.h"

namespace {
void Require(bool holds, const char* property) {
  if (holds) return;
  std::fprintf(stderr, "property broken: %s\n", property);
  std::abort();
}

// Every run of non-blank bytes of |text| (blanks as every format has them), in order.
std::vector<std::string_view> Words(std::string_view text) {
  constexpr std::string_view kBlanks = " \t\n\v\f\r";
  std::vector<std::string_view> words;
  for (std::size_t at = 0; (at = text.find_first_not_of(kBlanks, at)) < text.size();)
    at += words.emplace_back(text.substr(at, text.find_first_of(kBlanks, at) - at)).size();
  return words;
}

// Whether the words from |w| on are fields of |kinds|, whose values |out| then holds: c a letter
// of one byte, n a 32-bit and N a 64-bit number, each a sign ('+' only when |plus|) and digits.
bool Fields(const std::string_view* w, std::string_view kinds, bool plus, std::int64_t* out) {
  for (std::size_t k = 0; k < kinds.size(); ++k) {
    const std::size_t sign = w[k].starts_with('-') || (plus && w[k].starts_with('+')) ? 1 : 0;
    errno = 0;
    out[k] = kinds[k] == 'c' ? w[k][0] : std::strtoll(std::string(w[k]).c_str(), nullptr, 10);
    const bool number = w[k].size() > sign && errno == 0 &&
                        w[k].find_first_not_of("0123456789", sign) == std::string_view::npos &&
                        (kinds[k] == 'N' || out[k] == static_cast<std::int32_t>(out[k]));
    if (kinds[k] == 'c' ? w[k].size() != 1 : !number) return false;
  }
  return true;
}

// A line is a card exactly when its first twelve words are values of their fields (no plus
// sign). The card's line, thirteen words, begins with those values and reads back alike.
[[maybe_unused]] void CardLine(std::string_view text) {
  constexpr std::string_view kKinds = "nccnnnncnncN";
  std::array<std::int64_t, 12> plain{}, written{};
  const std::vector<std::string_view> w = Words(text);
  const bool valid = w.size() >= 12 && Fields(w.data(), kKinds, false, plain.data());
  const std::optional<Card> card = ParseCardLine(text);
  Require(card.has_value() == valid, "accepts exactly the lines of twelve valid fields");
  if (!card) return;
  const std::string line = FormatCardLine(*card);
  Require(Words(line).size() == 13 && Fields(Words(line).data(), kKinds, false, written.data()) &&
              written == plain && card->fee.direction == 'O',
          "writes the values that it read");
  const std::optional<Card> reread = ParseCardLine(line);
  Require(reread && FormatCardLine(*reread) == line, "reads its own line back as the same card");
}

// Appends to |entries| each FareEntry a plain reading of the log |text| credits, and returns its
// damage lines. Records are eleven words wherever the lines end; one cut short or with a bad field
// is skipped, and the reading goes on at the line after the one where it began.
std::string PlainLog(std::string_view text, std::vector<std::array<std::int64_t, 6>>& entries) {
  const std::vector<std::string_view> w = Words(text);
  std::string damage;
  for (std::size_t i = 0; i < w.size();) {
    std::int64_t v[11];  // the fields of a LogEntry, in its order
    if (w.size() - i >= 11 && Fields(&w[i], "nnnnncnccNN", true, v)) {
      const int fee = v[2] == 600 ? 1 : v[2] == 700 ? 2 : v[2] == 200 ? 3 : 0;  // the Surcharge
      if (fee != 0 || (v[8] == 'O' && (v[5] == 'T' || v[5] == 'F')))
        entries.push_back({v[3], v[6], fee, v[5], v[8], v[0] == 6666});
      i += 11;
      continue;
    }
    damage += std::string(program_invocation_short_name) + ": log: line " +
              std::to_string(std::count(text.data(), w[i].data(), '\n') + 1) + ", byte " +
              std::to_string(w[i].data() - text.data()) + ": damaged record skipped\n";
    const char* const line_end = std::find(w[i].data(), text.data() + text.size(), '\n');
    while (i < w.size() && w[i].data() < line_end) ++i;
  }
  return damage;
}

// Read whole and in pieces of a size drawn from its bytes, the log keeps what the block held,
// and credits the entries and prints the damage lines of the plain reading.
[[maybe_unused]] void LogScan(std::string_view text) {
  const auto of = [](const FareEntry& e) {  // as PlainLog gives it
    return std::array<std::int64_t, 6>{e.additionalFee, e.prevFare, static_cast<int>(e.surcharge),
                                       e.transfer,      e.inOut,    e.atBusStation};
  };
  std::vector<std::array<std::int64_t, 6>> plain{of(FareEntry{})};
  const std::string plain_damage = PlainLog(text, plain);
  for (const std::size_t chunk : {text.size() + 1, 1 + std::hash<std::string_view>{}(text) % 128}) {
    const int fd = memfd_create("log", 0);
    Require(pwrite(fd, text.data(), text.size(), 0) == std::ssize(text), "written");
    EntryBlock block(1);
    char* damage = nullptr;
    std::size_t damage_size = 0;
    std::FILE* const saved = std::exchange(stderr, open_memstream(&damage, &damage_size));
    const LoadOutcome outcome = ReadLog({fd, "log", text.size()}, block, chunk);
    std::fclose(std::exchange(stderr, saved));
    Require(std::ranges::equal(block, plain, {}, of) && damage == plain_damage &&
                (outcome == LoadOutcome::kDamaged) == !plain_damage.empty(),
            "credits the entries and prints the damage lines of the plain reading");
    std::free(damage);
    close(fd);
  }
}

// Each answer is the next word, the stream left right after it: a number exactly when the word
// is a decimal within 32 bits (one longer than "-2147483648" may be refused), with its value.
[[maybe_unused]] void MenuInput(std::string text) {
  std::FILE* in = fmemopen(text.data(), text.size(), "r");
  for (const std::string_view word : Words(text)) {
    const InputNumber answer = ReadNumber(in);
    std::int64_t value = 0;
    const bool number = Fields(&word, "n", true, &value);
    const bool right = answer.kind == InputKind::kNumber ? number && answer.value == value
                                                         : !number || word.size() > 11;
    Require(answer.kind != InputKind::kEnd && right, "reads a number exactly when it is one");
    Require(std::ftell(in) == word.data() + word.size() - text.data(), "stops after the word");
  }
  Require(ReadNumber(in).kind == InputKind::kEnd, "ends when only blanks are left");
  std::fclose(in);
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FUZZ_TARGET(std::string(reinterpret_cast<const char*>(data), size));
  return 0;
}
