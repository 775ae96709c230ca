// The reader as a program: standard error is kept for what the user must act on. Started
// headless or on an X display on a book and quit, it writes nothing there (the engine's notes,
// the platform's and its own go to the logging categories); started as root it turns the
// engine's sandbox off itself and says so only when its category is asked for. Its environment
// is complete before its first thread starts.
#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <unistd.h>

namespace {

struct ReaderRun {
    bool finished = false;
    int exitCode = -1;
    QString out;
    QString err;
};

// Opens the book (headless unless the environment names a platform), quits once its first page
// has loaded.
ReaderRun runReader(QProcessEnvironment environment) {
    if (!environment.contains(QStringLiteral("QT_QPA_PLATFORM")))
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.insert(QStringLiteral("LUMENO_EXIT_AFTER_FIRST_LOAD"), QStringLiteral("1"));
    // The reader's first window must not be the test's settings' business.
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), testsupport::scratchDir());
    QProcess reader;
    reader.setProcessEnvironment(environment);
    reader.start(QStringLiteral(LUMENO_READER_EXE), {testsupport::fixturePath("nested")});
    ReaderRun run;
    run.finished = reader.waitForFinished(120000);
    if (!run.finished)
        reader.kill(), reader.waitForFinished();
    run.exitCode = reader.exitStatus() == QProcess::NormalExit ? reader.exitCode() : -1;
    run.out = QString::fromLocal8Bit(reader.readAllStandardOutput());
    run.err = QString::fromLocal8Bit(reader.readAllStandardError());
    return run;
}

} // namespace

TEST(ReaderProcess, HeadlessStartAndQuitLeaveStandardErrorEmpty) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("QT_LOGGING_RULES"));
    environment.remove(QStringLiteral("XDG_RUNTIME_DIR"));
    if (::geteuid() == 0)
        environment.insert(QStringLiteral("QTWEBENGINE_DISABLE_SANDBOX"), QStringLiteral("1"));
    const ReaderRun run = runReader(environment);
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_TRUE(run.out.contains("first page loaded")) << run.out.toStdString();
    EXPECT_EQ(run.err.toStdString(), "");
}

TEST(ReaderProcess, AsRootTheReaderStartsWithoutTheSandboxAndSaysSoOnlyInItsLog) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs the root user";
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("QTWEBENGINE_DISABLE_SANDBOX"));
    environment.remove(QStringLiteral("QT_LOGGING_RULES"));
    const ReaderRun quiet = runReader(environment);
    ASSERT_TRUE(quiet.finished);
    EXPECT_EQ(quiet.exitCode, 0) << quiet.err.toStdString();
    EXPECT_TRUE(quiet.out.contains("first page loaded")) << quiet.out.toStdString();
    EXPECT_EQ(quiet.err.toStdString(), "");

    // Asked for, the window's notes and the engine's reach standard error.
    environment.insert(QStringLiteral("QT_LOGGING_RULES"),
                       QStringLiteral("lumeno.window.info=true\nlumeno.engine.debug=true"));
    const ReaderRun told = runReader(environment);
    ASSERT_TRUE(told.finished);
    EXPECT_EQ(told.exitCode, 0) << told.err.toStdString();
    EXPECT_EQ(told.err.count("sandbox is turned off"), 1) << told.err.toStdString();
    EXPECT_TRUE(told.err.contains("Sandboxing disabled by user")) << told.err.toStdString();
    EXPECT_FALSE(told.err.contains("Init Parameters") || told.err.contains("GL Type"))
        << told.err.toStdString();
}

namespace {

// A private X server for one test, on a display number it picks itself.
class PrivateXServer {
public:
    PrivateXServer() {
        m_server.start(QStringLiteral("Xvfb"),
                       {"-displayfd", "1", "-nolisten", "tcp", "-screen", "0", "1280x800x24"});
        if (!m_server.waitForStarted())
            return;
        QByteArray out;
        while (!out.contains('\n') && m_server.waitForReadyRead(20000))
            out += m_server.readAllStandardOutput();
        bool ok = false;
        const int number = out.trimmed().toInt(&ok);
        if (ok)
            m_display = QStringLiteral(":%1").arg(number);
    }
    ~PrivateXServer() {
        m_server.terminate();
        if (!m_server.waitForFinished(5000))
            m_server.kill(), m_server.waitForFinished();
    }
    // Empty when the server did not start.
    const QString& display() const { return m_display; }

private:
    QProcess m_server;
    QString m_display;
};

} // namespace

TEST(ReaderProcess, OnAnXDisplayTheStartLeavesStandardErrorEmpty) {
    REQUIRE_TOOL(!QStandardPaths::findExecutable("Xvfb").isEmpty(), "Xvfb");
    const PrivateXServer x;
    ASSERT_FALSE(x.display().isEmpty());
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("QT_LOGGING_RULES"));
    environment.remove(QStringLiteral("XDG_RUNTIME_DIR"));
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    environment.insert(QStringLiteral("DISPLAY"), x.display());
    if (::geteuid() == 0)
        environment.insert(QStringLiteral("QTWEBENGINE_DISABLE_SANDBOX"), QStringLiteral("1"));
    const ReaderRun run = runReader(environment);
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_TRUE(run.out.contains("first page loaded")) << run.out.toStdString();
    EXPECT_EQ(run.err.toStdString(), "");
}

TEST(ReaderProcess, TheEnvironmentIsCompleteBeforeTheFirstThreadStarts) {
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const QString report = folder.filePath("changes.txt");
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    // Both variables the reader may set for itself are left for it to set.
    environment.remove(QStringLiteral("QTWEBENGINE_DISABLE_SANDBOX"));
    environment.remove(QStringLiteral("QT_XCB_GL_INTEGRATION"));
    environment.remove(QStringLiteral("QT_QUICK_BACKEND"));
    environment.insert(QStringLiteral("LD_PRELOAD"), QStringLiteral(LUMENO_ENV_WATCH));
    environment.insert(QStringLiteral("LUMENO_ENV_WATCH_REPORT"), report);
    // The watch is not built with the sanitizers, and loads before their runtime.
    environment.insert(QStringLiteral("ASAN_OPTIONS"),
                       environment.value(QStringLiteral("ASAN_OPTIONS")) +
                           QStringLiteral(":verify_asan_link_order=0"));
    QProcess reader;
    reader.setProcessEnvironment(environment);
    reader.start(QStringLiteral(LUMENO_READER_EXE), {QStringLiteral("--version")});
    ASSERT_TRUE(reader.waitForFinished(60000));
    EXPECT_EQ(reader.exitCode(), 0) << reader.readAllStandardError().toStdString();
    QFile changes(report);
    QStringList ofTheReader;
    if (changes.open(QIODevice::ReadOnly)) {
        for (const QString& line : QString::fromUtf8(changes.readAll()).split('\n'))
            ofTheReader << line;
    }
    ofTheReader.removeAll(QString());
    EXPECT_TRUE(ofTheReader.isEmpty()) << ofTheReader.join('\n').toStdString();
}
