#include "ConvtoolCommands.h"

#include <cstdio>

int main(int argc, char** argv) {
    const int code = runConvtool(argc, argv);
    std::fflush(stdout);
    // A failing entry answers -1; keep the shell's status at 1 rather than 255.
    return code < 0 ? 1 : code;
}
