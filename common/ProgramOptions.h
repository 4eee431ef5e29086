// SPDX-License-Identifier: Apache-2.0
// The command line of the three programs. They take no arguments in normal use; the only ones
// they know are those every command-line tool answers to.
#pragma once

// Answers the command line of |program| before anything else runs. No arguments: returns and
// the program runs as usual. "--help" alone: prints the usage (|summary| is its second line,
// and it names the data directory the program uses) on standard output and ends with status
// 0. "--version" alone: prints "|program| (farecard) VERSION", the copyright line and the
// licence lines on standard output and ends with status 0. Anything else: one line with the
// reason, then "Try '|program| --help' for more information." on standard error, status 2.
// When standard output cannot take the help or the version, says why on standard error and
// ends with status 1.
void HandleProgramOptions(int argc, char* argv[], const char* program, const char* summary);
