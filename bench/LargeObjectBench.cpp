// What a book's large objects cost the reader: its peak memory (the high-water mark of its
// resident memory, VmHWM) from start until its first page has loaded, on a book whose page shows
// one large picture twenty times, each <img> asking for it by a URL of its own.
//
// Books (written by tests/support/LargePictureBook into a temporary folder, the picture in the
// LZX section as a compiler puts it):
//   - the floor: twenty copies of a 64 KiB picture, each read whole;
//   - "200 MiB of zeros": what compiling a file of zeros named picture.png gives (a book of
//     one or two megabytes); the engine reads the start of each copy, finds no picture in it
//     and drops the request;
//   - "sound 32 MiB picture": a 1×1 PNG made 32 MiB long by a private chunk, which the engine
//     reads to its end, twenty times.
// Each figure is given as a ratio to the floor, measured in the same run.
//
// The reader (build/app/lumeno) is started with posix_spawn under the offscreen platform, with a
// fresh home, configuration and runtime folder (so that no other reader takes the book), and
// QT_LOGGING_RULES=lumeno.startup.debug=true, whose "first page loaded" line marks the end of
// the page's load (its pictures included); then its VmHWM is read and it is asked to quit.
//
// usage: largeObjectBench   (QT_QPA_PLATFORM is set for the reader; run under taskset like the
//                            other benchmarks)
#include "LargePictureBook.h"

#include <QByteArray>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QString>
#include <QTemporaryDir>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

constexpr qint64 kMiB = 1 << 20;
constexpr double kGoalMB = 600;
constexpr int kCopies = 20;
constexpr int kLoadTimeoutMs = 300000;

struct Book {
    const char* what;
    qint64 pictureBytes;
    testsupport::PictureBytes bytes;
    double goalMB; // 0: none
};

// The reader's environment: ours, with its folders and the platform set for the run.
std::vector<std::string> readerEnvironment(const QString& home) {
    const auto setHere = [](const std::string& entry) {
        for (const char* name : {"HOME=", "XDG_", "TMPDIR=", "QT_QPA_PLATFORM=",
                                 "QT_LOGGING_RULES=", "QTWEBENGINE_DISABLE_SANDBOX="}) {
            if (entry.rfind(name, 0) == 0)
                return true;
        }
        return false;
    };
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
        if (!setHere(*e))
            env.emplace_back(*e);
    }
    const QByteArray folder = QFile::encodeName(home);
    env.push_back("HOME=" + folder.toStdString());
    env.push_back("XDG_CONFIG_HOME=" + folder.toStdString() + "/config");
    env.push_back("XDG_DATA_HOME=" + folder.toStdString() + "/data");
    env.push_back("XDG_CACHE_HOME=" + folder.toStdString() + "/cache");
    env.push_back("XDG_RUNTIME_DIR=" + folder.toStdString() + "/runtime");
    env.push_back("TMPDIR=" + folder.toStdString() + "/runtime");
    env.push_back("QT_QPA_PLATFORM=offscreen");
    env.push_back("QT_LOGGING_RULES=lumeno.startup.debug=true");
    // As root the engine's sandbox cannot start; a user's reader keeps it.
    if (::geteuid() == 0)
        env.push_back("QTWEBENGINE_DISABLE_SANDBOX=1");
    return env;
}

long peakKB(pid_t pid) {
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    }
    return -1;
}

// The reader's peak on the book, in KB, once its first page has loaded; -1 when it never did.
long readerPeakKB(const QString& book) {
    QTemporaryDir home;
    QDir(home.path()).mkpath(QStringLiteral("runtime"));
    QFile::setPermissions(home.path() + QStringLiteral("/runtime"),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    int errors[2];
    if (::pipe2(errors, O_CLOEXEC) != 0)
        return -1;
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_addopen(&files, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&files, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&files, errors[1], 2);
    const std::string program = LUMENO_PROGRAM;
    const std::string path = QFile::encodeName(book).toStdString();
    std::vector<char*> argv{const_cast<char*>(program.c_str()), const_cast<char*>(path.c_str()),
                            nullptr};
    std::vector<std::string> env = readerEnvironment(home.path());
    std::vector<char*> envp;
    for (std::string& e : env)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    pid_t pid = 0;
    const int spawned =
        ::posix_spawn(&pid, program.c_str(), &files, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&files);
    ::close(errors[1]);
    if (spawned != 0) {
        ::close(errors[0]);
        std::fprintf(stderr, "%s cannot be started\n", program.c_str());
        return -1;
    }
    // The reader's log, until its first page has loaded.
    QByteArray log;
    bool loaded = false;
    QElapsedTimer clock;
    clock.start();
    while (!loaded && clock.elapsed() < kLoadTimeoutMs) {
        pollfd p{errors[0], POLLIN, 0};
        if (::poll(&p, 1, 1000) <= 0)
            continue;
        char buffer[4096];
        const ssize_t got = ::read(errors[0], buffer, sizeof buffer);
        if (got <= 0)
            break;
        log.append(buffer, static_cast<qsizetype>(got));
        loaded = log.contains("first page loaded");
    }
    // The pictures' requests that are still streaming end meanwhile.
    ::usleep(500000);
    const long peak = loaded ? peakKB(pid) : -1;
    ::kill(pid, SIGTERM);
    // Drain the log so that the reader never waits on a full pipe while it quits.
    for (;;) {
        pollfd p{errors[0], POLLIN, 0};
        if (::poll(&p, 1, 10000) <= 0)
            break;
        char buffer[4096];
        if (::read(errors[0], buffer, sizeof buffer) <= 0)
            break;
    }
    ::close(errors[0]);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (!loaded)
        std::fprintf(stderr, "the first page of %s never loaded\n", qPrintable(book));
    return peak;
}

} // namespace

int main() {
    QTemporaryDir folder;
    const Book books[] = {
        {"floor: 64 KiB picture", 64 * 1024, testsupport::PictureBytes::Zeros, 0},
        {"200 MiB of zeros", 200 * kMiB, testsupport::PictureBytes::Zeros, kGoalMB},
        {"sound 32 MiB picture", 32 * kMiB, testsupport::PictureBytes::SoundPng, kGoalMB},
    };
    std::printf("The reader's peak memory until its page of %d copies of one picture has loaded "
                "(goal: < %.0f MB)\n",
                kCopies, kGoalMB);
    std::printf("%-24s %10s %10s %10s %8s\n", "picture", "book KB", "peak MB", "x floor", "goal");
    double floorMB = 0;
    bool ok = true;
    for (const Book& b : books) {
        const QString path = folder.filePath(QStringLiteral("pictures-%1.chm").arg(b.pictureBytes));
        if (!testsupport::writeLargePictureBook(path, b.pictureBytes, kCopies,
                                                testsupport::PictureSection::Compressed, b.bytes)) {
            std::fprintf(stderr, "%s cannot be written\n", qPrintable(path));
            return 1;
        }
        const long kb = readerPeakKB(path);
        ok = ok && kb > 0;
        const double mb = kb / 1024.0;
        if (floorMB == 0)
            floorMB = mb;
        std::printf("%-24s %10lld %10.1f %10.2f %8s\n", b.what,
                    static_cast<long long>(QFile(path).size() / 1024), mb,
                    floorMB > 0 ? mb / floorMB : 0.0,
                    b.goalMB > 0 ? (kb > 0 && mb < b.goalMB ? "met" : "MISSED") : "-");
    }
    return ok ? 0 : 1;
}
