// SPDX-License-Identifier: Apache-2.0
// The command line of the three programs. They take no arguments in normal use; the only ones
// they know are those every command-line tool answers to.
#pragma once

// Answers the command line of |program| before anything else runs. No arguments: returns false
// and the program runs as usual; |option| alone (a program's one option of its own, when it has
// one, described by |option_help|): returns true. Otherwise the arguments are taken in order,
// as GNU programs take them: the first "--help" (or "-h") or "--version" answers, whatever else
// follows it or other words before it. "--help" prints the usage (|summary| is its second line)
// with the data directory in use, absolute, and what chose it (FARE_DATA_DIR or the default);
// "--version" prints "|program| (farecard) VERSION", the copyright line and the licence lines;
// both on standard output, ending with status 0. An unknown option before them, or no such
// option at all: one line with the reason ("unknown argument 'X'" for the first unknown option
// or a lone word, "too many arguments" for several words), then "Try '|program| --help' for
// more information." on standard error, status 2. When standard output cannot take the help or
// the version, says why on standard error and ends with status 1.
bool HandleProgramOptions(int argc, char* argv[], const char* program, const char* summary,
                          const char* option = nullptr, const char* option_help = nullptr);
