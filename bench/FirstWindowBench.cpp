// Start to first visible window: lumeno against the peer readers (kchmviewer, xchm) on each
// corpus book, launched alternately in the same run.
//
// A launch is timed from fork to the first MapNotify of a top-level window (not override-redirect,
// at least kMinSide pixels each way) on the X display, which is when the window becomes visible.
// The process group is then killed, so nothing of one launch outlives it. Needs an X server
// without a window manager: run it under xvfb-run (bench/run-startup.sh does). Readers that are
// not installed are left out with a message.
//
// Usage: firstWindowBench [rounds] [FILE.chm...]   (default: 5 rounds, every corpus book)
// LUMENO_OTHER_BUILD=/path/to/lumeno adds another build of the reader as a column of its own.
#include "BenchSupport.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <X11/Xlib.h>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <poll.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

// After Qt's headers: Xlib defines names (Bool, Status) that Qt's use.
#include "XWindows.h"

namespace {

constexpr int kTimeoutMs = 30000;

struct Reader {
    QString name;
    QString program;
};

using benchx::drainEvents;
using benchx::isMainWindow;

void stopGroup(pid_t pid) {
    ::kill(-pid, SIGKILL);
    int status = 0;
    ::waitpid(pid, &status, 0);
    // Helper processes (the web engine's) are in the group too; give them a moment to go.
    ::usleep(200 * 1000);
}

// Milliseconds from fork to the first top-level window mapped; negative when none came.
double launchToFirstWindow(Display* display, const Reader& reader, const QString& book,
                           const QString& home) {
    drainEvents(display);
    const std::string program = reader.program.toStdString();
    const std::string file = book.toStdString();
    const std::string homeDir = home.toStdString();
    const auto start = std::chrono::steady_clock::now();
    // The child would write out what is still buffered here a second time.
    std::fflush(stdout);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::setpgid(0, 0);
        // Each launch starts from the same empty settings.
        ::setenv("HOME", homeDir.c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", (homeDir + "/.config").c_str(), 1);
        ::setenv("XDG_CACHE_HOME", (homeDir + "/.cache").c_str(), 1);
        ::setenv("XDG_DATA_HOME", (homeDir + "/.local/share").c_str(), 1);
        ::setenv("QTWEBENGINE_DISABLE_SANDBOX", "1", 1);
        ::freopen("/dev/null", "w", stdout);
        ::freopen("/dev/null", "w", stderr);
        ::execl(program.c_str(), program.c_str(), file.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    if (pid < 0)
        return -1;
    ::setpgid(pid, pid);
    double elapsed = -1;
    const int fd = ConnectionNumber(display);
    for (;;) {
        const auto now = std::chrono::steady_clock::now();
        const double passed = std::chrono::duration<double, std::milli>(now - start).count();
        if (passed > kTimeoutMs)
            break;
        while (XPending(display) > 0 && elapsed < 0) {
            XEvent event;
            XNextEvent(display, &event);
            if (event.type == MapNotify && isMainWindow(display, event.xmap.window))
                elapsed = std::chrono::duration<double, std::milli>(
                              std::chrono::steady_clock::now() - start)
                              .count();
        }
        if (elapsed >= 0)
            break;
        pollfd wait{fd, POLLIN, 0};
        ::poll(&wait, 1, 50);
    }
    stopGroup(pid);
    return elapsed;
}

QString findProgram(const char* name, const QString& fallback = {}) {
    if (!fallback.isEmpty() && QFileInfo(fallback).isExecutable())
        return fallback;
    return QStandardPaths::findExecutable(QString::fromLatin1(name));
}

} // namespace

int main(int argc, char** argv) {
    int rounds = 5;
    int firstFile = 1;
    if (argc > 1 && std::atoi(argv[1]) > 0) {
        rounds = std::atoi(argv[1]);
        firstFile = 2;
    }
    std::vector<QString> books;
    for (int i = firstFile; i < argc; ++i)
        books.push_back(QString::fromLocal8Bit(argv[i]));
    if (books.empty()) {
        const QDir corpus(QStringLiteral(LUMENO_BENCH_CORPUS_DIR));
        for (const QString& name :
             corpus.entryList({QStringLiteral("*.chm")}, QDir::Files, QDir::Name))
            books.push_back(corpus.filePath(name));
    }
    Display* display = XOpenDisplay(nullptr);
    if (!display) {
        std::fprintf(stderr, "firstWindowBench: no X display (run it under xvfb-run)\n");
        return 1;
    }
    XSelectInput(display, DefaultRootWindow(display), SubstructureNotifyMask);

    std::vector<Reader> readers{
        {QStringLiteral("lumeno"), findProgram("lumeno", QStringLiteral(LUMENO_PROGRAM))}};
    // Another build of the reader (an earlier version, say) measured in the same run.
    const QString other = qEnvironmentVariable("LUMENO_OTHER_BUILD");
    if (!other.isEmpty() && QFileInfo(other).isExecutable())
        readers.push_back({QStringLiteral("lumeno-other"), other});
    for (const char* peer : {"kchmviewer", "xchm"}) {
        const QString program = findProgram(peer);
        if (program.isEmpty())
            std::fprintf(stderr, "firstWindowBench: %s is not installed; left out\n", peer);
        else
            readers.push_back({QString::fromLatin1(peer), program});
    }

    QTemporaryDir home;
    std::printf("start to first visible window, median of %d launches each (ms; ratio to "
                "kchmviewer)\n",
                rounds);
    std::printf("%-40s", "book");
    for (const Reader& reader : readers)
        std::printf(" %12s", qPrintable(reader.name));
    std::printf(" %14s\n", "lumeno/kchm");
    size_t peer = readers.size();
    for (size_t i = 0; i < readers.size(); ++i) {
        if (readers[i].name == QLatin1String("kchmviewer"))
            peer = i;
    }
    bool failed = false;
    double worstRatio = 0;
    for (const QString& book : books) {
        // One launch of each first, unmeasured: the disk cache then holds all the libraries.
        for (const Reader& reader : readers)
            launchToFirstWindow(display, reader, book, home.path());
        std::vector<bench::TimedWork> works;
        for (const Reader& reader : readers) {
            works.push_back([&, reader] {
                const double ms = launchToFirstWindow(display, reader, book, home.path());
                if (ms < 0) {
                    std::fprintf(stderr, "firstWindowBench: %s showed no window for %s\n",
                                 qPrintable(reader.name), qPrintable(bench::shownName(book)));
                    failed = true;
                }
                return ms;
            });
        }
        const std::vector<double> medians = bench::interleavedMedians(rounds, works);
        std::printf("%-40s", qPrintable(bench::shownName(book)));
        for (double ms : medians)
            std::printf(" %12.1f", ms);
        if (medians.size() > peer && medians[peer] > 0) {
            const double ratio = medians[0] / medians[peer];
            worstRatio = std::max(worstRatio, ratio);
            std::printf(" %14.2f", ratio);
        }
        std::printf("\n");
        std::fflush(stdout);
    }
    if (readers.size() > peer)
        std::printf("worst ratio lumeno / kchmviewer: %.2f\n", worstRatio);
    XCloseDisplay(display);
    return failed ? 1 : 0;
}
