// The reader as a program: standard error is kept for what the user must act on. Started
// headless on a book and quit, it writes nothing there (the engine's notes and its own go to
// the logging categories); started as root it turns the engine's sandbox off itself and says so
// only when its category is asked for.
#include "TestSupport.h"

#include <QProcess>
#include <gtest/gtest.h>
#include <unistd.h>

namespace {

struct ReaderRun {
    bool finished = false;
    int exitCode = -1;
    QString out;
    QString err;
};

// Opens the book headless, quits once its first page has loaded.
ReaderRun runReader(QProcessEnvironment environment) {
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
