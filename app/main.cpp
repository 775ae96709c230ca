// The program entry: registers the "itss" scheme before the web engine starts, then opens the
// files named on the command line (or asks for one).
//
// Two environment variables serve measurement and inspection and change nothing else:
// LUMENO_EXIT_AFTER_FIRST_LOAD=1 prints "first page loaded after N ms" (since the program
// started) once the first window's first page has loaded, then quits; LUMENO_SCREENSHOT=FILE
// does the same and saves a picture of that window to FILE (PNG) before quitting, after
// LUMENO_SCREENSHOT_DELAY_MS (1500 unless set) for the window to settle. With
// LUMENO_ENCODING=NAME as well, the window first switches to that text encoding as its menus
// would ("CP1252"; "automatic" for the file's own) and the picture shows the page served anew.
// These probes always start a reader of their own; otherwise files given while a reader runs go
// to that reader (SingleInstance). QT_LOGGING_RULES=lumeno.startup.debug=true, with
// QT_MESSAGE_PATTERN="%{time process} %{message}", lists the steps to the first page with their
// times.
//
// Pages are drawn in software. A help reader gains nothing from the GPU, while OpenGL, which the
// web engine would otherwise set up inside QApplication's constructor, costs a tenth of a second
// before the first window and keeps the driver (some 80 MB) loaded as long as the reader runs.
// A user who sets QT_QUICK_BACKEND or QT_XCB_GL_INTEGRATION decides alone; programs the reader
// starts for the user (a browser, a PDF viewer) get the environment without the reader's own
// drawing variable (ReaderEnvironment).
//
// The environment is complete before the first thread starts, and never changed afterwards:
// setenv while another thread is in getenv is undefined behaviour. The font configuration is
// then read on a thread of its own while QApplication connects to the display, the longest wait
// before the first window; Qt then finds it read (fontconfig is thread-safe).
//
// The web engine's renderer sandbox cannot start for the root user; run as root, the reader
// turns it off itself and notes it under "lumeno.window" (a user who set
// QTWEBENGINE_DISABLE_SANDBOX decides alone). Standard error is kept for what the user must
// act on: the reader's own notes and those the engine writes at each start stay off it unless
// QT_LOGGING_RULES asks for them (keepStandardErrorForTheUser).
#include "CHMDocumentWindow.h"
#include "CHMTextEncodingMenu.h"
#include "CHMWebView.h"
#include "ITSSSchemeHandler.h"
#include "LumenoApplication.h"
#include "LumenoLogging.h"
#include "ReaderEnvironment.h"
#include "SingleInstance.h"
#include "TerminationHandling.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QQuickWindow>
#include <QTimer>
#include <cstdio>
#include <fontconfig/fontconfig.h>
#include <thread>
#include <unistd.h>

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
                        bool given = false;
                        const int delay =
                            qEnvironmentVariableIntValue("LUMENO_SCREENSHOT_DELAY_MS", &given);
                        QTimer::singleShot(given && delay >= 0 ? delay : kScreenshotSettleMs,
                                           window, [window, screenshot] {
                                               const bool saved =
                                                   window->grab().save(screenshot, "PNG");
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

void turnSandboxOffForRoot() {
    if (::geteuid() != 0)
        return;
    if (ReaderEnvironment::setUnlessGiven("QTWEBENGINE_DISABLE_SANDBOX", "1",
                                          ReaderEnvironment::Scope::InheritedByPrograms))
        qCInfo(lcWindow) << "running as root, so the web engine's sandbox is turned off";
}

void drawPagesInSoftware() {
    // A renderer the user chose may need OpenGL: then the display keeps it too.
    if (qEnvironmentVariableIsSet("QT_QUICK_BACKEND"))
        return;
    QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
    ReaderEnvironment::setUnlessGiven("QT_XCB_GL_INTEGRATION", "none",
                                      ReaderEnvironment::Scope::ReaderOnly);
}

bool isProbeRun() {
    return qEnvironmentVariableIntValue("LUMENO_EXIT_AFTER_FIRST_LOAD") == 1 ||
           !qEnvironmentVariable("LUMENO_SCREENSHOT").isEmpty();
}

} // namespace

int main(int argc, char** argv) {
    QElapsedTimer sinceStart;
    sinceStart.start();
    keepStandardErrorForTheUser();
    // The environment first: no thread may run while it changes.
    turnSandboxOffForRoot();
    drawPagesInSoftware();
    std::jthread readFontConfiguration([] { FcInit(); });
    ITSSSchemeHandler::registerScheme();

    QApplication app(argc, argv);
    qCDebug(lcStartup) << "application made";
    quitOnTerminationSignals();
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

    const QStringList files = parser.positionalArguments();
    SingleInstance instance;
    if (!isProbeRun()) {
        if (instance.sendToRunning(files))
            return 0;
        instance.listen();
    }

    LumenoApplication lumeno;
    armStartupProbe(lumeno, sinceStart);
    QObject::connect(&instance, &SingleInstance::filesReceived, &lumeno,
                     &LumenoApplication::openHandedOverFiles);
    if (files.isEmpty())
        lumeno.showStartWindow();
    else
        lumeno.openFiles(files);
    // A termination signal that came while a message of the start was up: quit() does not reach
    // a start that has not entered the event loop yet.
    if (terminationRequested())
        return 0;
    if (lumeno.windows().isEmpty() && !lumeno.startWindow())
        return 1;
    // The last window closing ends the reader, also when files keep arriving by the socket.
    return app.exec();
}
