// What the benchmarks share: the files they measure, how a figure is timed, and the plain
// chmlib reads that serve as the baseline measured in the same run.
#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>
#include <functional>
#include <string>
#include <vector>

struct chmFile;

namespace bench {

// The .chm files to measure: those named on the command line, else every .chm of the corpus
// folder (by name) followed by the generated large book.
std::vector<QString> inputFiles(int argc, char** argv);

// The file's name without its folder, as the tables show it.
QString shownName(const QString& path);

// A piece of timed work: it answers the milliseconds of the part it measures, so that setting up
// and tearing down can stay outside.
using TimedWork = std::function<double()>;

// Runs every piece of work `rounds` times, interleaved (one of each per round, so that drift of
// the machine touches all alike), and answers each one's median in milliseconds.
std::vector<double> interleavedMedians(int rounds, const std::vector<TimedWork>& works);

// How many rounds give a steady median for work that took `onceMs`: enough to fill about
// `budgetMs`, odd, between 5 and 51.
int roundsFor(double onceMs, double budgetMs);

// Wall time of one call, in milliseconds.
double timeOnceMs(const std::function<void()>& work);

// Processor time (user + system) of one call, in milliseconds: of every thread of this process
// and of its child processes that are running (a book's reading process does the reads).
double cpuOnceMs(const std::function<void()>& work);

// chm_resolve_object, malloc of the length, chm_retrieve_object, free: the least any reader
// must do for one object. Answers the bytes read (0 when the object is missing or empty).
quint64 rawRead(chmFile* file, const QByteArray& name);

// A sitemap path as the document looks it up: "/"-rooted, UTF-8.
QByteArray containerPath(const QString& path);

// What one run of a program cost, as the system counted it.
struct RunFigures {
    double ms = 0;
    double cpuMs = 0; // user + system: steadier than wall time on a busy machine
    long peakKB = 0;
};

// Runs the program with its arguments, its output streams discarded; exits on failure.
RunFigures runProcess(const std::vector<std::string>& argv);

} // namespace bench
