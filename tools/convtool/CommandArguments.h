// Parsing shared by convtool's subcommands.
#pragma once

#include "ConversionEntries.h"

#include <string>

// Numbers given as arguments: the whole text must be the number, in range. `base` as for
// strtoll: 10, or 0 to accept 0x.. and 0.. forms as well.
bool ParseLongArgument(const char* text, long long* value, int base = 10);
bool ParseDoubleArgument(const char* text, double* value);

// Takes `arg` as the input (first) or output (second) path while one of them is missing and
// `arg` is no option; false otherwise.
bool TakeInputOrOutput(const std::string& arg, int& positional, ImageJobOptions& options);

// Reports an argument `command` does not take, shows its usage; answers the exit code.
int RefuseArgument(const char* command, const std::string& arg, void (*usage)());
