// The program entry: registers the "itss" scheme before the web engine starts, then opens the
// files named on the command line (or asks for one).
//
// Two environment variables serve measurement and inspection and change nothing else:
// LUMENO_EXIT_AFTER_FIRST_LOAD=1 prints "first page loaded after N ms" (since the program
// started) once the first window's first page has loaded, then quits; LUMENO_SCREENSHOT=FILE
// does the same and saves a picture of that window to FILE (PNG) before quitting. With
// LUMENO_ENCODING=NAME as well, the window first switches to that text encoding as its menus
// would ("CP1252"; "automatic" for the file's own) and the picture shows the page served anew.
#include "CHMDocumentWindow.h"
#include "CHMTextEncodingMenu.h"
#include "CHMWebView.h"
#include "ITSSSchemeHandler.h"
#include "LumenoApplication.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QTimer>
#include <cstdio>

namespace {

// What the probe waits for the window to paint before taking its picture.
constexpr int kScreenshotSettleMs = 1500;

// The menu tag of the encoding LUMENO_ENCODING names; -1 when it names none.
int screenshotEncodingTag(CHMTextEncodingMenu* menus) {
    if (!qEnvironmentVariableIsSet("LUMENO_ENCODING"))
        return -1;
    const QString name = qEnvironmentVariable("LUMENO_ENCODING").trimmed();
    if (name.compare(QLatin1String("automatic"), Qt::CaseInsensitive) == 0 || name.isEmpty())
        return 0;
    const int tag = menus && menus->initEncodingMenu() ? menus->tagForEncoding(name) : -1;
    if (tag < 0)
        std::fprintf(stderr, "LUMENO_ENCODING: the menus offer no encoding %s\n",
                     qUtf8Printable(name));
    return tag;
}

void armStartupProbe(LumenoApplication& lumeno, const QElapsedTimer& sinceStart) {
    const bool exitAfterLoad = qEnvironmentVariableIntValue("LUMENO_EXIT_AFTER_FIRST_LOAD") == 1;
    const QString screenshot = qEnvironmentVariable("LUMENO_SCREENSHOT");
    if (!exitAfterLoad && screenshot.isEmpty())
        return;
    QObject::connect(
        &lumeno, &LumenoApplication::windowOpened, &lumeno,
        [&lumeno, sinceStart, screenshot](CHMDocumentWindow* window) {
            QObject::connect(
                window, &CHMDocumentWindow::pageLoadFinished, window,
                [&lumeno, window, sinceStart, screenshot](CHMWebView*, bool ok) {
                    std::printf("first page loaded after %lld ms%s\n",
                                static_cast<long long>(sinceStart.elapsed()),
                                ok ? "" : " (failed)");
                    std::fflush(stdout);
                    if (screenshot.isEmpty()) {
                        QApplication::exit(ok ? 0 : 1);
                        return;
                    }
                    auto takeScreenshot = [window, screenshot] {
                        QTimer::singleShot(kScreenshotSettleMs, window, [window, screenshot] {
                            const bool saved = window->grab().save(screenshot, "PNG");
                            QApplication::exit(saved ? 0 : 1);
                        });
                    };
                    const int tag = screenshotEncodingTag(lumeno.textEncodingMenu());
                    if (tag < 0) {
                        takeScreenshot();
                        return;
                    }
                    QObject::connect(
                        window, &CHMDocumentWindow::pageLoadFinished, window,
                        [takeScreenshot](CHMWebView*, bool) { takeScreenshot(); },
                        Qt::SingleShotConnection);
                    window->changeEncoding(tag);
                },
                Qt::SingleShotConnection);
        },
        Qt::SingleShotConnection);
}

} // namespace

int main(int argc, char** argv) {
    QElapsedTimer sinceStart;
    sinceStart.start();
    ITSSSchemeHandler::registerScheme();

    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Lumeno"));
    QApplication::setApplicationName(QStringLiteral("Lumeno+"));
    QApplication::setApplicationVersion(QStringLiteral(LUMENO_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Reader for Compiled HTML Help (.chm) files"));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument(QStringLiteral("files"), QStringLiteral("The .chm files to open."),
                                 QStringLiteral("[files...]"));
    parser.process(app);

    LumenoApplication lumeno;
    armStartupProbe(lumeno, sinceStart);
    const QStringList files = parser.positionalArguments();
    if (files.isEmpty())
        lumeno.showOpenPanel(nullptr);
    else
        lumeno.openFiles(files);
    if (lumeno.windows().isEmpty())
        return files.isEmpty() ? 0 : 1;
    return app.exec();
}
