// The record through which the page loop and the text matcher exchange one link target's
// position on a printed page.
#pragma once

#include <cstdint>

struct LinkDestLocation {
    uint32_t charIndex = 0; // input: the target's UTF-8 byte offset in the page text
    double x = 0.0;         // output: left edge of the word that starts the target
    double y = 0.0;         // output: top of that word minus 2, from the top of the page down
    uint32_t found = 0;     // output: 1 when x and y were set
};
