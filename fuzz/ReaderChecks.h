// SPDX-License-Identifier: Apache-2.0
// The properties the fuzzers check on every input, shared with the test suite that replays the
// seed corpus and every kept crash input. Each check returns an empty string when all its
// properties hold, otherwise one line that names the first one broken. The reader under test is
// a parameter, so the tests can show that a wrong reader is caught.
#pragma once

#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

#include "Card.h"
#include "ConsoleInput.h"
#include "ScanLog.h"

using CardParser = std::optional<Card> (*)(std::string_view);
using LogScanner = ScanResult (*)(std::string_view, bool, EntryBlock&);
using NumberReader = InputNumber (*)(std::FILE*);

// The card file reader: it accepts exactly the lines the reference reading accepts, with the
// same fields; an accepted card, formatted again, is thirteen words one space apart that read
// back to the same card.
std::string CheckCardLine(std::string_view bytes, CardParser parse = ParseCardLine);

// The log scanner: its entries (the fields the allocation reads of each record a pass credits),
// its stop, the offset and the line ends it reports match the reference reading of whole
// records; it only appends to the block; and the same bytes fed in pieces, the unfinished record
// carried over compacted as the settlement streams a log, give the same entries and the same
// stop at the same offset, with no record carried beyond its bound.
std::string CheckLogScan(std::string_view bytes, LogScanner scan = ScanLog);

// The menu input reader, fed |bytes| through a memory stream and answered as the tag menu does
// (the rest of the line discarded after a word that is not a number): each answer covers the
// next word only; it is a number exactly when the word is a decimal within 32 bits, with that
// value (a word longer than any 32-bit number may be refused); the end comes only when nothing
// but white space is left; and the discarding stops right after the next line end.
std::string CheckMenuInput(std::string_view bytes, NumberReader read = ReadNumber);
