// Start to the first painted page: lumeno against the Qt peer reader (kchmviewer) on each corpus
// book, and against a bare web engine showing one page (startupBaseline), launched alternately
// in the same run.
//
// A launch is timed from fork to the moment the page area of its first top-level window shows
// a page: the window is mapped, and a picture of the right part of it (below the toolbars, right
// of the sidebar, without the scroll bars; the whole window of the bare engine) holds at least
// kMinContentPixels pixels that differ from that part's main colour, not counting straight lines
// across it (frames, separators). The picture is taken every kPollMs once the window is mapped, so
// it is the same test for every program whatever its web engine. The process group is then killed.
// Each launch has the same fresh home and a runtime and temporary folder of its own. Needs an X
// server without a window manager: run it under xvfb-run (bench/run-first-page.sh does).
//
// Usage: firstPageBench [rounds] [FILE.chm...]   (default: 5 rounds, every corpus book: those
// of $LUMENO_CORPUS/real, else of the shared corpus beside the checkout)
// FIRST_PAGE_DUMP=DIR saves the picture that counted as the page of each launch (PPM), to check
// what the test saw. LUMENO_OTHER_BUILD=/path/to/lumeno adds that build of the reader (an
// earlier one, say) as a column of its own, launched in the same rounds.
#include "BenchSupport.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <poll.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <unordered_map>
#include <vector>

// After Qt's headers: Xlib defines names (Bool, Status) that Qt's use.
#include "XWindows.h"

namespace {

constexpr int kTimeoutMs = 30000;
constexpr int kPollMs = 5;
constexpr int kMinContentPixels = 150;
constexpr int kColourDistance = 60;
// Goals: the first page no later than the Qt peer's, and at most this much over a bare engine.
constexpr double kPeerGoal = 1.0;
constexpr double kBareGoal = 1.3;

struct Reader {
    QString name;
    QString program;
    // A reader opens the book and has a sidebar and toolbars; the bare engine shows only its
    // page, in the whole window.
    bool isReader = true;
};

using benchx::drainEvents;
using benchx::isMainWindow;

int distance(unsigned long a, unsigned long b) {
    int sum = 0;
    for (int shift : {0, 8, 16})
        sum +=
            std::abs(static_cast<int>((a >> shift) & 0xff) - static_cast<int>((b >> shift) & 0xff));
    return sum;
}

// The page area of the window, or nullptr when the window is gone.
XImage* pageArea(Display* display, Window window, bool isReader) {
    XWindowAttributes attributes;
    if (!XGetWindowAttributes(display, window, &attributes) || attributes.map_state != IsViewable)
        return nullptr;
    const int left = isReader ? attributes.width * 45 / 100 : 0;
    const int top = isReader ? attributes.height * 20 / 100 : 0;
    const int width = attributes.width - left - 24;
    const int height = attributes.height - top - 24;
    if (width <= 0 || height <= 0)
        return nullptr;
    return XGetImage(display, window, left, top, static_cast<unsigned>(width),
                     static_cast<unsigned>(height), AllPlanes, ZPixmap);
}

// Whether the picture shows a page: enough pixels off its main colour, straight lines aside.
bool showsPage(XImage* image) {
    const int w = image->width;
    const int h = image->height;
    std::unordered_map<unsigned long, int> counts;
    for (int y = 0; y < h; y += 4)
        for (int x = 0; x < w; x += 4)
            ++counts[XGetPixel(image, x, y) & 0xffffff];
    unsigned long background = 0;
    int most = 0;
    for (const auto& [colour, count] : counts) {
        if (count > most) {
            most = count;
            background = colour;
        }
    }
    // Not yet drawn at all.
    if (background == 0)
        return false;
    std::vector<char> content(static_cast<size_t>(w) * h);
    std::vector<int> perRow(h), perColumn(w);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            if (distance(XGetPixel(image, x, y) & 0xffffff, background) > kColourDistance) {
                content[static_cast<size_t>(y) * w + x] = 1;
                ++perRow[y];
                ++perColumn[x];
            }
    int pixels = 0;
    for (int y = 0; y < h; ++y) {
        if (perRow[y] > w * 6 / 10)
            continue;
        for (int x = 0; x < w; ++x)
            if (content[static_cast<size_t>(y) * w + x] && perColumn[x] <= h * 6 / 10)
                ++pixels;
    }
    return pixels >= kMinContentPixels;
}

void dump(XImage* image, const QString& file) {
    FILE* out = std::fopen(file.toLocal8Bit().constData(), "wb");
    if (!out)
        return;
    std::fprintf(out, "P6\n%d %d\n255\n", image->width, image->height);
    for (int y = 0; y < image->height; ++y)
        for (int x = 0; x < image->width; ++x) {
            const unsigned long pixel = XGetPixel(image, x, y);
            const unsigned char rgb[3] = {static_cast<unsigned char>((pixel >> 16) & 0xff),
                                          static_cast<unsigned char>((pixel >> 8) & 0xff),
                                          static_cast<unsigned char>(pixel & 0xff)};
            std::fwrite(rgb, 1, 3, out);
        }
    std::fclose(out);
}

void stopGroup(pid_t pid) {
    ::kill(-pid, SIGKILL);
    int status = 0;
    ::waitpid(pid, &status, 0);
    // The web engine's processes are in the group too; give them a moment to go.
    ::usleep(200 * 1000);
}

double msSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
        .count();
}

// Milliseconds from fork to the first painted page; negative when none came.
double launchToFirstPage(Display* display, const Reader& reader, const QString& book,
                         const QString& home, const QString& dumpAs) {
    drainEvents(display);
    const std::string program = reader.program.toStdString();
    const std::string file = book.toStdString();
    const std::string homeDir = home.toStdString();
    QTemporaryDir runtime(QStringLiteral("/dev/shm/first-page-XXXXXX"));
    const std::string runtimeDir = runtime.path().toStdString();
    const auto start = std::chrono::steady_clock::now();
    // The child would write out what is still buffered here a second time.
    std::fflush(stdout);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::setpgid(0, 0);
        ::setenv("HOME", homeDir.c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", (homeDir + "/.config").c_str(), 1);
        ::setenv("XDG_CACHE_HOME", (homeDir + "/.cache").c_str(), 1);
        ::setenv("XDG_DATA_HOME", (homeDir + "/.local/share").c_str(), 1);
        ::setenv("XDG_RUNTIME_DIR", runtimeDir.c_str(), 1);
        // The reader's single-instance socket lives in the temporary folder: one of its own, so
        // that no other reader of this user (a test, another launch) takes or hands over files.
        ::setenv("TMPDIR", runtimeDir.c_str(), 1);
        ::setenv("QTWEBENGINE_DISABLE_SANDBOX", "1", 1);
        ::freopen("/dev/null", "w", stdout);
        ::freopen("/dev/null", "w", stderr);
        if (reader.isReader)
            ::execl(program.c_str(), program.c_str(), file.c_str(), static_cast<char*>(nullptr));
        else
            ::execl(program.c_str(), program.c_str(), "--stay", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    if (pid < 0)
        return -1;
    ::setpgid(pid, pid);
    Window shown = 0;
    double elapsed = -1;
    const int fd = ConnectionNumber(display);
    while (elapsed < 0 && msSince(start) < kTimeoutMs) {
        while (XPending(display) > 0 && !shown) {
            XEvent event;
            XNextEvent(display, &event);
            if (event.type == MapNotify && isMainWindow(display, event.xmap.window))
                shown = event.xmap.window;
        }
        if (shown) {
            if (XImage* image = pageArea(display, shown, reader.isReader)) {
                if (showsPage(image)) {
                    elapsed = msSince(start);
                    if (!dumpAs.isEmpty())
                        dump(image, dumpAs);
                }
                XDestroyImage(image);
            }
            if (elapsed < 0)
                ::usleep(kPollMs * 1000);
            continue;
        }
        pollfd wait{fd, POLLIN, 0};
        ::poll(&wait, 1, kPollMs);
    }
    if (elapsed < 0) {
        // Why: the program ended, showed no window, or showed one without a page (saved).
        int status = 0;
        if (::waitpid(pid, &status, WNOHANG) == pid)
            std::fprintf(stderr, "firstPageBench: %s ended (status %d)\n", qPrintable(reader.name),
                         status);
        else if (!shown)
            std::fprintf(stderr, "firstPageBench: %s mapped no window\n", qPrintable(reader.name));
        else if (XImage* image = pageArea(display, shown, reader.isReader)) {
            std::fprintf(stderr, "firstPageBench: %s showed a window without a page\n",
                         qPrintable(reader.name));
            if (!dumpAs.isEmpty())
                dump(image, dumpAs + QStringLiteral(".nopage.ppm"));
            XDestroyImage(image);
        }
    }
    stopGroup(pid);
    return elapsed;
}

QString findProgram(const char* name, const QString& fallback = {}) {
    if (!fallback.isEmpty() && QFileInfo(fallback).isExecutable())
        return fallback;
    return QStandardPaths::findExecutable(QString::fromLatin1(name));
}

int handleErrors(Display*, XErrorEvent*) {
    // A window that went away between the test and the picture: the next poll sees it.
    return 0;
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
        // As the tests find it: LUMENO_CORPUS names the folder that holds "real".
        const QString root = qEnvironmentVariable("LUMENO_CORPUS");
        const QDir corpus(root.isEmpty() ? QStringLiteral(LUMENO_BENCH_CORPUS_DIR)
                                         : root + QStringLiteral("/real"));
        for (const QString& name :
             corpus.entryList({QStringLiteral("*.chm")}, QDir::Files, QDir::Name))
            books.push_back(corpus.filePath(name));
    }
    if (books.empty()) {
        std::fprintf(stderr, "firstPageBench: no books (name them, or set LUMENO_CORPUS)\n");
        return 1;
    }
    Display* display = XOpenDisplay(nullptr);
    if (!display) {
        std::fprintf(stderr, "firstPageBench: no X display (run it under xvfb-run)\n");
        return 1;
    }
    XSetErrorHandler(handleErrors);
    XSelectInput(display, DefaultRootWindow(display), SubstructureNotifyMask);

    const QString peer = findProgram("kchmviewer");
    if (peer.isEmpty()) {
        std::fprintf(stderr, "firstPageBench: kchmviewer is not installed\n");
        return 1;
    }
    const QString other = qEnvironmentVariable("LUMENO_OTHER_BUILD");
    std::vector<Reader> readers{
        {QStringLiteral("lumeno"), findProgram("lumeno", QStringLiteral(LUMENO_PROGRAM))},
        {QStringLiteral("kchmviewer"), peer},
        {QStringLiteral("bare engine"), QStringLiteral(LUMENO_BASELINE_PROGRAM), false}};
    if (QFileInfo(other).isExecutable())
        readers.push_back({QStringLiteral("other"), other});
    const QString dumpDir = qEnvironmentVariable("FIRST_PAGE_DUMP");

    QTemporaryDir home;
    std::printf("start to first painted page, median of %d launches each (ms)\n", rounds);
    std::printf("%-36s %9s %11s %9s %10s %8s %10s %8s\n", "book", "lumeno", "kchmviewer", "bare",
                "/kchm", "goal", "/bare", "goal");
    bool failed = false;
    bool missed = false;
    for (const QString& book : books) {
        // One launch of each first, unmeasured: the disk cache then holds all the libraries.
        for (const Reader& reader : readers)
            launchToFirstPage(display, reader, book, home.path(), {});
        std::vector<bench::TimedWork> works;
        int launch = 0;
        bool peerFailed = false;
        for (const Reader& reader : readers) {
            works.push_back([&, reader] {
                QString dumpAs;
                if (!dumpDir.isEmpty())
                    dumpAs =
                        QStringLiteral("%1/%2-%3-%4.ppm")
                            .arg(dumpDir, QFileInfo(book).completeBaseName(),
                                 QString(reader.name).replace(QLatin1Char(' '), QLatin1Char('-')))
                            .arg(++launch);
                const double ms = launchToFirstPage(display, reader, book, home.path(), dumpAs);
                if (ms < 0) {
                    std::fprintf(stderr, "firstPageBench: %s showed no page for %s\n",
                                 qPrintable(reader.name), qPrintable(bench::shownName(book)));
                    // The peer failing a book (kchmviewer aborts on some) leaves that book
                    // without a ratio; the reader or the engine failing fails the run.
                    if (reader.name == QLatin1String("kchmviewer"))
                        peerFailed = true;
                    else
                        failed = true;
                }
                return ms;
            });
        }
        const std::vector<double> m = bench::interleavedMedians(rounds, works);
        const double toBare = m[2] > 0 ? m[0] / m[2] : 0;
        missed = missed || toBare > kBareGoal;
        if (peerFailed) {
            std::printf("%-36s %9.1f %11s %9.1f %10s %8s %10.2f %8s\n",
                        qPrintable(bench::shownName(book)), m[0], "no page", m[2], "-", "-", toBare,
                        toBare <= kBareGoal ? "<=1.3 ok" : "<=1.3 NO");
            if (m.size() > 3)
                std::printf("%-36s other build %9.1f ms\n", "", m[3]);
            std::fflush(stdout);
            continue;
        }
        const double toPeer = m[1] > 0 ? m[0] / m[1] : 0;
        missed = missed || toPeer > kPeerGoal;
        std::printf("%-36s %9.1f %11.1f %9.1f %10.2f %8s %10.2f %8s\n",
                    qPrintable(bench::shownName(book)), m[0], m[1], m[2], toPeer,
                    toPeer <= kPeerGoal ? "<=1.0 ok" : "<=1.0 NO", toBare,
                    toBare <= kBareGoal ? "<=1.3 ok" : "<=1.3 NO");
        if (m.size() > 3)
            std::printf("%-36s other build %9.1f ms, ratio to kchmviewer %.2f\n", "", m[3],
                        m[1] > 0 ? m[3] / m[1] : 0.0);
        std::fflush(stdout);
    }
    std::printf("%s\n", missed ? "some goals missed" : "every goal met");
    XCloseDisplay(display);
    return failed ? 1 : 0;
}
