#include "BenchSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <chm_lib.h>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace bench {

std::vector<QString> inputFiles(int argc, char** argv) {
    std::vector<QString> files;
    for (int i = 1; i < argc; ++i)
        files.push_back(QString::fromLocal8Bit(argv[i]));
    if (!files.empty())
        return files;
    const QDir corpus(QStringLiteral(LUMENO_BENCH_CORPUS_DIR));
    const QStringList names =
        corpus.entryList({QStringLiteral("*.chm")}, QDir::Files | QDir::Readable, QDir::Name);
    for (const QString& name : names)
        files.push_back(corpus.filePath(name));
    files.push_back(QStringLiteral(LUMENO_BENCH_BOOK));
    return files;
}

QString shownName(const QString& path) {
    return QFileInfo(path).fileName();
}

double timeOnceMs(const std::function<void()>& work) {
    const auto start = std::chrono::steady_clock::now();
    work();
    const auto end = std::chrono::steady_clock::now();
    return std::chrono::duration<double, std::milli>(end - start).count();
}

namespace {

// Processor time so far of this process (all its threads) and of its running children.
double cpuNowMs() {
    rusage self{};
    getrusage(RUSAGE_SELF, &self);
    double ms = (self.ru_utime.tv_sec + self.ru_stime.tv_sec) * 1e3 +
                (self.ru_utime.tv_usec + self.ru_stime.tv_usec) / 1e3;
    const double tickMs = 1e3 / static_cast<double>(sysconf(_SC_CLK_TCK));
    QDir tasks(QStringLiteral("/proc/self/task"));
    for (const QString& task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile children(tasks.filePath(task + QStringLiteral("/children")));
        if (!children.open(QIODevice::ReadOnly))
            continue;
        for (const QByteArray& pid : children.readAll().split(' ')) {
            if (pid.trimmed().isEmpty())
                continue;
            QFile stat(QStringLiteral("/proc/%1/stat").arg(QString::fromLatin1(pid.trimmed())));
            if (!stat.open(QIODevice::ReadOnly))
                continue;
            const QByteArray line = stat.readAll();
            // The fields after the command's name, which may hold spaces: utime and stime are
            // the 14th and 15th of the line, the 12th and 13th after the name.
            const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
            if (fields.size() > 12)
                ms += (fields[11].toDouble() + fields[12].toDouble()) * tickMs;
        }
    }
    return ms;
}

} // namespace

double cpuOnceMs(const std::function<void()>& work) {
    const double start = cpuNowMs();
    work();
    return cpuNowMs() - start;
}

std::vector<double> interleavedMedians(int rounds, const std::vector<TimedWork>& works) {
    std::vector<std::vector<double>> samples(works.size());
    for (int round = 0; round < rounds; ++round) {
        for (size_t i = 0; i < works.size(); ++i)
            samples[i].push_back(works[i]());
    }
    std::vector<double> medians;
    for (std::vector<double>& s : samples) {
        if (s.empty()) {
            medians.push_back(0);
            continue;
        }
        const auto middle = s.begin() + static_cast<std::ptrdiff_t>(s.size() / 2);
        std::nth_element(s.begin(), middle, s.end());
        medians.push_back(*middle);
    }
    return medians;
}

int roundsFor(double onceMs, double budgetMs) {
    const double wanted = onceMs > 0 ? budgetMs / onceMs : 51;
    const int rounds = static_cast<int>(std::clamp(std::ceil(wanted), 5.0, 51.0));
    return rounds | 1;
}

quint64 rawRead(chmFile* file, const QByteArray& name) {
    chmUnitInfo ui{};
    if (chm_resolve_object(file, name.constData(), &ui) != CHM_RESOLVE_SUCCESS || ui.length == 0)
        return 0;
    auto* buffer = static_cast<unsigned char*>(std::malloc(ui.length));
    if (!buffer)
        return 0;
    const LONGINT64 got =
        chm_retrieve_object(file, &ui, buffer, 0, static_cast<LONGINT64>(ui.length));
    std::free(buffer);
    return got > 0 ? static_cast<quint64>(got) : 0;
}

QByteArray containerPath(const QString& path) {
    if (path.isEmpty())
        return {};
    return (path.startsWith(QLatin1Char('/')) ? path : QLatin1Char('/') + path).toUtf8();
}

RunFigures runProcess(const std::vector<std::string>& argv) {
    std::vector<char*> args;
    for (const std::string& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    std::fflush(stdout); // or the child would write our buffered output a second time
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        std::freopen("/dev/null", "w", stdout);
        std::freopen("/dev/null", "w", stderr);
        execvp(args[0], args.data());
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    RunFigures f;
    f.ms =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    f.peakKB = usage.ru_maxrss;
    f.cpuMs = (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
              (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "%s failed (status %d)\n", argv[0].c_str(), status);
        std::exit(1);
    }
    return f;
}

} // namespace bench
