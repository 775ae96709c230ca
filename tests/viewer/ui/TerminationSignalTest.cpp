// The reader and chmtool ended by a signal (SIGTERM at logout or from `kill`, SIGINT, SIGHUP)
// leave no search index folder in the memory-backed runtime folder, where it would hold its
// memory until the user logs out. The reader ends on the first signal whatever it shows.
#include "TestChmWriter.h"
#include "TestSupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QThread>
#include <csignal>
#include <cstdlib>
#include <functional>
#include <gtest/gtest.h>

using namespace testsupport;

namespace {

// A book with enough text that indexing it takes a while, so a signal arrives mid-way.
QString bookToIndex() {
    static const QString path = [] {
        std::vector<ChmObject> objects;
        QByteArray toc = "<ul>";
        for (int i = 0; i < 3000; ++i) {
            const QByteArray name = "/p" + QByteArray::number(i) + ".htm";
            QByteArray text = "<html><body><p>";
            for (int w = 0; w < 300; ++w)
                text += "word" + QByteArray::number((i * 7 + w * 13) % 5000) + " ";
            objects.push_back({name, text + "</p></body></html>"});
            toc += "<li><object type=\"text/sitemap\"><param name=\"Name\" value=\"P" +
                   QByteArray::number(i) + "\"><param name=\"Local\" value=\"" + name.mid(1) +
                   "\"></object>";
        }
        objects.push_back({"/toc.hhc", toc + "</ul>"});
        objects.push_back({"/#SYSTEM", systemFile({{0, QByteArray("toc.hhc\0", 8)},
                                                   {2, QByteArray("p0.htm\0", 7)},
                                                   {3, QByteArray("Signals\0", 8)}})});
        return writeScratchFile("signals.chm", writeChm(objects));
    }();
    return path;
}

QString memoryRuntimeFolder() {
    QByteArray pattern = "/dev/shm/lumeno-signal-test-XXXXXX";
    return mkdtemp(pattern.data()) ? QFile::decodeName(pattern) : QString();
}

QStringList indexFolders(const QString& runtime) {
    return QDir(runtime).entryList({"lumeno-search-*"}, QDir::Dirs | QDir::Hidden);
}

bool waitFor(const std::function<bool()>& condition, int ms) {
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > ms)
            return false;
        QThread::msleep(10);
    }
    return true;
}

} // namespace

TEST(TerminationSignal, TheReaderAndChmtoolEndedBySignalsRemoveTheirIndexFolders) {
    const char* const signalNames[] = {"SIGTERM", "SIGINT", "SIGHUP"};
    const int signalNumbers[] = {SIGTERM, SIGINT, SIGHUP};
    for (const bool reader : {true, false}) {
        for (int s = 0; s < 3; ++s) {
            SCOPED_TRACE(std::string(reader ? "lumeno " : "chmtool ") + signalNames[s]);
            const QString runtime = memoryRuntimeFolder();
            ASSERT_FALSE(runtime.isEmpty());
            QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
            environment.insert("XDG_RUNTIME_DIR", runtime);
            environment.insert("XDG_CONFIG_HOME", scratchDir());
            // The reader's single-instance socket lives in the temporary folder: a reader
            // running elsewhere on the machine must not be handed the book.
            environment.insert("TMPDIR", runtime);
            environment.insert("QT_QPA_PLATFORM", "offscreen");
            QProcess process;
            process.setProcessEnvironment(environment);
            if (reader)
                process.start(QStringLiteral(LUMENO_READER_EXE), {bookToIndex()});
            else
                process.start(chmtoolPath(), {"search", bookToIndex(), "word42"});
            ASSERT_TRUE(process.waitForStarted());
            // The index is being built (chmtool) or kept (the reader) in its folder.
            const bool made = waitFor([&] { return !indexFolders(runtime).isEmpty(); }, 120000);
            EXPECT_TRUE(made);
            if (reader) // the index is complete and kept while the window is open
                QThread::msleep(1000);
            ::kill(static_cast<pid_t>(process.processId()), signalNumbers[s]);
            const bool ended = process.waitForFinished(120000);
            if (!ended)
                process.kill(), process.waitForFinished();
            EXPECT_TRUE(ended);
            if (reader) {
                // An orderly quit.
                EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
                EXPECT_EQ(process.exitCode(), 0);
            } else {
                // Ended by the signal itself, not by finishing first.
                EXPECT_EQ(process.exitStatus(), QProcess::CrashExit);
            }
            EXPECT_TRUE(indexFolders(runtime).isEmpty())
                << indexFolders(runtime).join(' ').toStdString();
            QDir(runtime).removeRecursively();
        }
    }
}

TEST(TerminationSignal, EndsTheReaderWhileTheMessageOfItsStartIsUp) {
    const QString runtime = memoryRuntimeFolder();
    ASSERT_FALSE(runtime.isEmpty());
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("XDG_RUNTIME_DIR", runtime);
    environment.insert("XDG_CONFIG_HOME", scratchDir());
    environment.insert("TMPDIR", runtime);
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    // The reader notes each message it shows under this category.
    environment.insert("QT_LOGGING_RULES", "lumeno.window.info=true");
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral(LUMENO_READER_EXE), {scratchDir() + "/no-such-book.chm"});
    ASSERT_TRUE(process.waitForStarted());
    QByteArray err;
    QElapsedTimer waiting;
    waiting.start();
    while (!err.contains("told the user:") && waiting.elapsed() < 120000 &&
           process.state() == QProcess::Running) {
        process.waitForReadyRead(1000);
        err += process.readAllStandardError();
    }
    ASSERT_TRUE(err.contains("no-such-book.chm")) << err.toStdString();
    // The message is up: one signal ends the reader, as it would without the message.
    ::kill(static_cast<pid_t>(process.processId()), SIGTERM);
    const bool ended = process.waitForFinished(30000);
    if (!ended)
        process.kill(), process.waitForFinished();
    EXPECT_TRUE(ended);
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(process.exitCode(), 0);
    QDir(runtime).removeRecursively();
}
