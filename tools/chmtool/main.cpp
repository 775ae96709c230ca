#include "CHMSearchIndexFolder.h"
#include "ChmToolCommands.h"
#include "TerminationSignals.h"

#include <QCoreApplication>
#include <cstdio>
#include <cstring>

#ifdef LUMENO_CHMTOOL_EXPORT
#include "ChmToolExport.h"
#endif

int main(int argc, char** argv) {
    // Ended from outside, chmtool still removes the search index's folder from memory.
    TerminationSignals::install([](int signal) {
        CHMSearchIndexFolder::removeAllLive();
        TerminationSignals::dieOf(signal);
    });
    // The export needs the web engine, and with it an application of its own.
    if (argc > 1 && std::strcmp(argv[1], "export") == 0) {
#ifdef LUMENO_CHMTOOL_EXPORT
        return runExportCommand(argc, argv);
#else
        std::fputs("chmtool: this build has no web engine for export\n", stderr);
        return 1;
#endif
    }
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments();
    args.removeFirst();
    return runChmTool(args);
}
