#include "CHMSearchIndexFolder.h"
#include "ChmToolCommands.h"
#include "HeadlessPlatform.h"
#include "HelperPrograms.h"
#include "TerminationSignals.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace {

#ifdef LUMENO_CHMTOOL_EXPORT
// Becomes the export's program, arguments and all. It lives in the helpers' folder, where it
// cannot find the resources from its own place: it is told the folder chmtool found, unless the
// user named one.
int becomeExport(char** argv) {
    const QString program = findHelperProgram(QStringLiteral("lumeno-chmtool-export"));
    if (program.isEmpty()) {
        std::fprintf(
            stderr, "chmtool: its export program lumeno-chmtool-export is missing (looked in %s)\n",
            qUtf8Printable(helperProgramFolders().join(QStringLiteral(" and "))));
        return 1;
    }
    const QString resources =
        QDir::cleanPath(helperProgramFolders().value(0) + QStringLiteral("/../share/lumeno"));
    if (qEnvironmentVariableIsEmpty("LUMENO_RESOURCES") && QFileInfo(resources).isDir())
        qputenv("LUMENO_RESOURCES", QFile::encodeName(resources));
    const QByteArray path = QFile::encodeName(program);
    ::execv(path.constData(), argv);
    std::fprintf(stderr, "chmtool: %s cannot be run: %s\n", path.constData(), std::strerror(errno));
    return 1;
}
#endif

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
    // Before any thread starts: the environment is changed on the way.
    if (argc > 1 && std::strcmp(argv[1], "export") == 0) {
#ifdef LUMENO_CHMTOOL_EXPORT
        return becomeExport(argv);
#else
        std::fputs("chmtool: this build has no web engine for export\n", stderr);
        return 1;
#endif
    }
    // Ended from outside, chmtool still removes the search index's folder from memory.
    TerminationSignals::install([](int signal) {
        CHMSearchIndexFolder::removeAllLive();
        TerminationSignals::dieOf(signal);
    });
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments();
    args.removeFirst();
    return runChmTool(args);
}
