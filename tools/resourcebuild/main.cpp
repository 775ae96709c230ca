// lumeno-resourcebuild: the build's helper for generated resources.
//   lumeno-resourcebuild manual MANUAL.html OUT.pdf
//   lumeno-resourcebuild icon ICON.svg SIZE OUT.png
// Exit status 0 on success; 1 with one line on standard error when the work fails; 2 on a
// malformed command line.
#include "IconRenderer.h"
#include "ManualPdfWriter.h"

#include <QGuiApplication>
#include <cstdio>

int main(int argc, char** argv) {
    // A build step has no display; fonts and painting work the same offscreen.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    QString error;
    bool ok = false;
    if (args.size() == 3 && args[0] == QLatin1String("manual")) {
        ok = ManualPdfWriter::write(args[1], args[2], &error);
    } else if (args.size() == 4 && args[0] == QLatin1String("icon")) {
        bool isNumber = false;
        const int size = args[2].toInt(&isNumber);
        ok = isNumber && IconRenderer::render(args[1], size, args[3], &error);
        if (!isNumber)
            error = QStringLiteral("%1: not an icon size").arg(args[2]);
    } else {
        std::fprintf(stderr, "usage: lumeno-resourcebuild manual MANUAL.html OUT.pdf | "
                             "lumeno-resourcebuild icon ICON.svg SIZE OUT.png\n");
        return 2;
    }
    if (!ok)
        std::fprintf(stderr, "lumeno-resourcebuild: %s\n", qUtf8Printable(error));
    return ok ? 0 : 1;
}
