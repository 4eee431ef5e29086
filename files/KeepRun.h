// SPDX-License-Identifier: Apache-2.0
// A terminal's start keeps the lines of the run before instead of destroying them: the log, its
// blocks and all, goes to a name of its own beside it, and a new empty log takes its place.
#pragma once

#include <cstdint>
#include <string>

// The name under which the run of the log |log_name| ("1111.txt") that a start at |start|
// (seconds since the epoch) ends is kept: "1111.txt.run-20261208T130502Z". The start is written
// in UTC, so that a station's kept runs sort by the time of their start whatever the time zone
// and its summer time; |sequence| 2 to 99 appends "-02" to "-99" for further starts within the
// same second, which still sort in order.
std::string KeptRunName(const std::string& log_name, std::int64_t start, int sequence = 1);

// Empties the log |path| durably, as a terminal's start does, keeping its
// lines: the file the log names (its links followed as RealPathOf follows them, and left links)
// is swapped in one step with a new empty file of its mode and group, which was first put in
// the directory of that file under the first free KeptRunName of the log's name for |start|. So a
// power cut leaves either the old log in place (and perhaps an empty kept run) or the new empty log
// with the old lines kept. A missing or empty log is only replaced, as there is nothing to keep.
// Needs the card lock and the station's lock, and the journal checkpointed, so that no record
// puts lines into either file later. False, with the detail on standard error, when it could
// not; the old lines then stand in the log or in the kept run, never nowhere.
[[nodiscard]] bool KeepRun(const std::string& path, std::int64_t start);
