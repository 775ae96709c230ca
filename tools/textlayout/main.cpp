// lumeno-text-layout: lays one document out on paper into a print PDF, for the conversion
// library, which runs it as a child with a time limit. Not meant to be run by hand; the options
// are those layoutArguments writes.
#include "ConversionLog.h"
#include "DocumentAnchors.h"
#include "DocumentLayout.h"
#include "RunCleanup.h"
#include "TerminationSignals.h"

#include <QGuiApplication>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    // No window is ever shown: the layout needs fonts, not a display, whatever platform the
    // host that started it uses.
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    std::vector<std::string> arguments(argv + (argc > 0 ? 1 : 0), argv + argc);
    conversion::DocumentLayoutRequest request;
    std::string error;
    if (!conversion::parseLayoutArguments(arguments, request, error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    // Ended from outside (the host was interrupted or died: the parent's death signal is
    // SIGTERM), the helper ends LibreOffice and removes its part of the print.
    conversion::removeIfRunEnds(request.print);
    conversion::removeIfRunEnds(conversion::laidOutTextPath(request.print));
    conversion::removeIfRunEnds(conversion::anchorPlacesPath(request.print));
    TerminationSignals::install([](int signal) {
        conversion::endRunForTermination();
        TerminationSignals::dieOf(signal);
    });
    // The library's messages reach the host's log, marked apart from what Qt writes here.
    SetConversionLogHook([](std::string_view line) {
        std::fprintf(stderr, "%s%.*s\n", conversion::kLayoutNotePrefix, int(line.size()),
                     line.data());
    });
    // The layout's fonts and paint devices need a GUI application; the library makes none.
    int qtArgc = 1;
    char name[] = "lumeno-text-layout";
    char* qtArgv[] = {name, nullptr};
    QGuiApplication application(qtArgc, qtArgv);
    const bool laidOut = conversion::layOutDocument(request, error);
    conversion::awaitEndOfRun();
    if (!laidOut) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    return 0;
}
