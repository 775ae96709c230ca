#include "FuzzCheck.h"

#include <cstdio>
#include <cstdlib>

namespace fuzz {

void check(bool holds, const char* what) {
    if (holds)
        return;
    std::fprintf(stderr, "fuzz invariant broken: %s\n", what);
    std::abort();
}

} // namespace fuzz
