// Start-up to the first page: `lumeno FILE` on the largest corpus book against a minimal Qt
// WebEngine program that shows one page from memory, measured alternately in the same run.
//
// Each launch is timed from starting the process to the line "first page loaded after N ms"
// on its standard output (LUMENO_EXIT_AFTER_FIRST_LOAD=1 makes lumeno print it and quit).
// Both run headless (offscreen platform, no sandbox) with the configuration in a temporary
// folder, so no remembered page changes what lumeno loads first.
//
// Usage: startupBench [FILE.chm] [rounds]
#include "BenchSupport.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace {

constexpr int kLaunchTimeoutMs = 60000;

QProcessEnvironment benchEnvironment(const QString& configDir) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    if (!env.contains(QStringLiteral("QT_QPA_PLATFORM")))
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    if (!env.contains(QStringLiteral("QTWEBENGINE_DISABLE_SANDBOX")))
        env.insert(QStringLiteral("QTWEBENGINE_DISABLE_SANDBOX"), QStringLiteral("1"));
    env.insert(QStringLiteral("LUMENO_EXIT_AFTER_FIRST_LOAD"), QStringLiteral("1"));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), configDir);
    return env;
}

// Milliseconds from start to the "first page loaded" line; negative when it never came.
double launchToFirstPage(const QString& program, const QStringList& arguments,
                         const QProcessEnvironment& env) {
    QProcess process;
    process.setProcessEnvironment(env);
    process.setProcessChannelMode(QProcess::SeparateChannels);
    process.setStandardErrorFile(QProcess::nullDevice());
    QElapsedTimer clock;
    clock.start();
    process.start(program, arguments);
    double elapsed = -1;
    QByteArray output;
    while (clock.elapsed() < kLaunchTimeoutMs && process.state() != QProcess::NotRunning) {
        if (!process.waitForReadyRead(kLaunchTimeoutMs - static_cast<int>(clock.elapsed())))
            break;
        output += process.readAllStandardOutput();
        if (output.contains("first page loaded")) {
            elapsed = static_cast<double>(clock.nsecsElapsed()) / 1e6;
            break;
        }
    }
    if (!process.waitForFinished(kLaunchTimeoutMs)) {
        process.kill();
        process.waitForFinished();
    }
    return elapsed;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QString book = argc > 1 ? QString::fromLocal8Bit(argv[1])
                                  : QStringLiteral(LUMENO_BENCH_CORPUS_DIR) +
                                        QStringLiteral("/en-fpc-fcl-chmcmd-large.chm");
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 9;
    if (!QFileInfo(book).isFile()) {
        std::fprintf(stderr, "startupBench: no such book %s\n", qPrintable(book));
        return 1;
    }
    QTemporaryDir config;
    const QProcessEnvironment env = benchEnvironment(config.path());
    const QString lumeno = QStringLiteral(LUMENO_PROGRAM);
    const QString baseline = QStringLiteral(LUMENO_BASELINE_PROGRAM);

    // One launch of each first, unmeasured: the disk cache then holds both programs' libraries.
    launchToFirstPage(lumeno, {book}, env);
    launchToFirstPage(baseline, {}, env);

    bool failed = false;
    auto timed = [&failed, &env](const QString& program, const QStringList& arguments) {
        return [&failed, &env, program, arguments] {
            const double ms = launchToFirstPage(program, arguments, env);
            failed = failed || ms < 0;
            return ms;
        };
    };
    const std::vector<double> medians =
        bench::interleavedMedians(rounds, {timed(lumeno, {book}), timed(baseline, {})});
    if (failed) {
        std::fprintf(stderr, "startupBench: a launch did not report its first page\n");
        return 1;
    }
    std::printf("start-up to the first page, median of %d launches each\n", rounds);
    std::printf("  lumeno %-40s %8.1f ms\n", qPrintable(bench::shownName(book)), medians[0]);
    std::printf("  minimal QtWebEngine page (setHtml)              %8.1f ms\n", medians[1]);
    std::printf("  ratio lumeno / minimal                          %8.2f\n",
                medians[1] > 0 ? medians[0] / medians[1] : 0.0);
    return 0;
}
