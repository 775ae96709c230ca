#include "ConvtoolCommands.h"
#include "RunCleanup.h"
#include "TerminationSignals.h"

#include <cstdio>
#include <malloc.h>

int main(int argc, char** argv) {
    // Interrupted (Ctrl-C), ended or left by its terminal, a run ends the helpers it started
    // (the layout helper, LibreOffice) and removes its temporary files before it goes.
    TerminationSignals::install([](int signal) {
        conversion::endRunForTermination();
        TerminationSignals::dieOf(signal);
    });
    // Pictures and pages are decoded on worker threads. Picture-sized buffers should come from and
    // go back to the system at once: left to itself, glibc raises this threshold after the first
    // large buffer is freed and keeps later ones in each worker's arena, where the freed pixels
    // of several pictures stay resident. A process-wide choice, so the program makes it.
    mallopt(M_MMAP_THRESHOLD, 1 << 20);
    const int code = runConvtool(argc, argv);
    conversion::awaitEndOfRun();
    std::fflush(stdout);
    // A failing entry answers -1; keep the shell's status at 1 rather than 255.
    return code < 0 ? 1 : code;
}
