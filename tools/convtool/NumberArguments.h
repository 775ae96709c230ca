// Numbers given as command-line arguments: the whole text must be the number, in range.
#pragma once

// `base` as for strtoll: 10, or 0 to accept 0x.. and 0.. forms as well.
bool ParseLongArgument(const char* text, long long* value, int base = 10);
bool ParseDoubleArgument(const char* text, double* value);
