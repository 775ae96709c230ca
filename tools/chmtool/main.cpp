#include "CHMSearchIndexFolder.h"
#include "ChmToolCommands.h"
#include "TerminationSignals.h"

#include <QCoreApplication>
#include <cstdio>
#include <cstring>

#ifdef LUMENO_CHMTOOL_EXPORT
#include "ChmToolExport.h"
#endif

namespace {

// chmtool prints and never shows anything, so a machine without a display must do: Qt would
// abort in the export's application, looking for one. Set before any thread starts (setenv is
// not safe while another thread reads the environment); a platform the user chose stays.
void printWithoutADisplay() {
    if (!qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") ||
        !qEnvironmentVariableIsEmpty("DISPLAY") || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        return;
    qputenv("QT_QPA_PLATFORM", "offscreen");
}

} // namespace

int main(int argc, char** argv) {
    printWithoutADisplay();
    // Help needs no book, no application and no display.
    if ((argc == 2 && isHelpRequest(QString::fromLocal8Bit(argv[1]))) ||
        (argc == 3 && std::strcmp(argv[1], "export") == 0 &&
         isHelpRequest(QString::fromLocal8Bit(argv[2])))) {
        std::printf("%s\n", qUtf8Printable(chmToolUsage()));
        return 0;
    }
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
