// Where tests find their inputs: the compiled fixtures, the real-world corpus, scratch folders.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QTemporaryFile>
#include <gtest/gtest.h>
#include <memory>

namespace testsupport {

// Path of the compiled fixture "<name>.chm"; fails the test when it is missing.
QString fixturePath(const QString& name);

// The real-world corpus ("<LUMENO_CORPUS>/real") is not part of a clone of the repository.
// Every .chm of it, sorted; empty when the corpus is not there (a failure under CI, a note on
// standard error otherwise).
QStringList corpusFiles();
QString corpusPath(const QString& fileName);
// Empty when the corpus file (with an empty name: the corpus folder) is there; otherwise the
// sentence that says what is missing.
QString missingCorpus(const QString& fileName = {});
// True under CI (CI=true), where the corpus must be present and its absence fails the tests.
bool corpusRequired();
// True under CI (CI=true) too: scripts/install-deps.sh installs every program the tests compare
// with (pdfimages, soffice, icns2png, ...), so a missing one fails the tests that need it.
bool toolRequired();

// The chmtool program of this build, and the resources folder the build prepared.
QString chmtoolPath();
QString resourcesPath();

// What a run of chmtool gave: its exit status (-1 when it crashed or hung), its output.
struct ToolRun {
    int status = -1;
    QByteArray out;
    QString err;
    QStringList lines() const; // the output's non-empty lines, read as UTF-8
};
ToolRun runChmTool(const QStringList& args);
// Runs a program found on PATH (or at its path) to its end, stdin empty; killed and status -1 after
// timeoutMs. Unlike QProcess it stays exact under ThreadSanitizer (see RunProgram.cpp).
ToolRun runProgram(const QString& program, const QStringList& args, int timeoutMs = 120000);

// A fresh folder under the system's temporary folder, removed when the process ends.
QString scratchDir();

// Writes bytes to a new file in scratchDir() and answers its path.
QString writeScratchFile(const QString& name, const QByteArray& bytes);

QByteArray readWholeFile(const QString& path);

// Sets an environment variable while the object lives (for what this process starts meanwhile,
// and what it reads then); the earlier value, or none, comes back afterwards.
class EnvironmentValue {
public:
    EnvironmentValue(const char* name, const QByteArray& value);
    ~EnvironmentValue();
    EnvironmentValue(const EnvironmentValue&) = delete;
    EnvironmentValue& operator=(const EnvironmentValue&) = delete;

private:
    const char* m_name;
    bool m_wasSet;
    QByteArray m_saved;
};

// What reaches this process's standard error while an object of this class lives: the log's
// lines, and whatever else writes there.
class StandardErrorCapture {
public:
    StandardErrorCapture();
    ~StandardErrorCapture();
    StandardErrorCapture(const StandardErrorCapture&) = delete;
    StandardErrorCapture& operator=(const StandardErrorCapture&) = delete;
    // Stops capturing and answers what came.
    QByteArray bytes();

private:
    void restore();
    std::unique_ptr<QTemporaryFile> m_file;
    int m_saved = -1;
};

} // namespace testsupport

// Skips the calling test with a message when the corpus file is missing (an empty name: the
// corpus folder), and fails it instead under CI. Use at the top of a test body.
#define REQUIRE_CORPUS(...)                                                                        \
    do {                                                                                           \
        const QString missingCorpus_ = testsupport::missingCorpus(__VA_ARGS__);                    \
        if (!missingCorpus_.isEmpty()) {                                                           \
            if (testsupport::corpusRequired())                                                     \
                FAIL() << missingCorpus_.toStdString();                                            \
            else                                                                                   \
                GTEST_SKIP() << missingCorpus_.toStdString();                                      \
        }                                                                                          \
    } while (false)

// Skips the calling test when a program it needs is missing (`present` false; `what` names it),
// and fails it instead under CI. Use at the top of a test body or in SetUp.
#define REQUIRE_TOOL(present, what)                                                                \
    do {                                                                                           \
        if (!(present)) {                                                                          \
            if (testsupport::toolRequired())                                                       \
                FAIL() << what << " is missing; scripts/install-deps.sh installs it";              \
            else                                                                                   \
                GTEST_SKIP() << what << " is not installed";                                       \
        }                                                                                          \
    } while (false)
