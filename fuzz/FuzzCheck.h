// Invariant checks for the fuzz targets: a broken one is a bug whatever the input was.
#pragma once

namespace fuzz {

// Prints "fuzz invariant broken: <what>" to stderr and aborts when `holds` is false.
void check(bool holds, const char* what);

} // namespace fuzz
