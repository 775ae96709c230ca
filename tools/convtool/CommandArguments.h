// Parsing shared by convtool's subcommands.
#pragma once

#include "ConversionEntries.h"

#include <cstdio>
#include <functional>
#include <string>

// Numbers given as arguments: the whole text must be the number, in range. `base` as for
// strtoll: 10, or 0 to accept 0x.. and 0.. forms as well.
bool ParseLongArgument(const char* text, long long* value, int base = 10);
bool ParseDoubleArgument(const char* text, double* value);

// Takes `arg` as the input (first) or output (second) path while one of them is missing and
// `arg` is no option; false otherwise.
bool TakeInputOrOutput(const std::string& arg, int& positional, ImageJobOptions& options);

// A command's help: to standard output when asked for (-h), to standard error after a mistake.
using UsagePrinter = void (*)(FILE* out);

// Reports an argument `command` does not take, shows its usage; answers the exit code.
int RefuseArgument(const char* command, const std::string& arg, UsagePrinter usage);

// Checks shared by the commands, each saying what is wrong on standard error (false then): a
// quality outside 0.0 to 1.0; a page range whose last page (1 or more) comes before its first.
bool QualityInRange(const char* command, const char* option, double quality);
bool PageRangeRunsForward(const char* command, long long first, long long last);

// What a command's own options made of one argument.
enum class OptionTaken {
    WithValue, // an option and the value after it
    Alone,     // an option without a value
    No,        // not one of its options
    Refused,   // one of its options, with a value it cannot take
    Reported,  // refused, and the option has said why
};

// How an option table's flags read: `ok` false for a value it cannot take, `takes` whether the
// option had a value.
inline OptionTaken optionTaken(bool ok, bool takes) {
    return !ok ? OptionTaken::Refused : takes ? OptionTaken::WithValue : OptionTaken::Alone;
}

// The argument loop of the commands that fill ImageJobOptions (render, pdf-to-images): each
// argument goes to `option` first (`next` is the argument after it, or null); what it does not
// take is the help or the input or output path. Answers -1 when the command should run, else its
// exit status: 0 after the help, 2 after a refused argument, a missing path or no format.
int ReadImageJobArguments(
    int argc, char** argv, const char* command, UsagePrinter usage, ImageJobOptions& options,
    const bool& formatGiven,
    const std::function<OptionTaken(const std::string&, const char*)>& option);
