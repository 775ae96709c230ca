// The reader as a program: started as root it turns the engine's sandbox off itself and says
// so in one line, and the engine's start-up report stays off standard error.
#include "TestSupport.h"

#include <QProcess>
#include <QProcessEnvironment>
#include <gtest/gtest.h>
#include <unistd.h>

namespace {

struct ReaderRun {
    int exitCode = -1;
    QString out;
    QString err;
};

ReaderRun runReader(const QStringList& arguments, const QProcessEnvironment& environment) {
    QProcess reader;
    reader.setProcessEnvironment(environment);
    reader.start(QStringLiteral(LUMENO_READER_EXE), arguments);
    ReaderRun run;
    if (!reader.waitForFinished(120000)) {
        reader.kill();
        reader.waitForFinished();
        return run;
    }
    run.exitCode = reader.exitStatus() == QProcess::NormalExit ? reader.exitCode() : -1;
    run.out = QString::fromLocal8Bit(reader.readAllStandardOutput());
    run.err = QString::fromLocal8Bit(reader.readAllStandardError());
    return run;
}

} // namespace

TEST(ReaderProcess, AsRootTheReaderStartsWithoutTheSandboxAndSaysSoInOneLine) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs the root user";
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("QTWEBENGINE_DISABLE_SANDBOX"));
    environment.remove(QStringLiteral("QT_LOGGING_RULES"));
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.insert(QStringLiteral("LUMENO_EXIT_AFTER_FIRST_LOAD"), QStringLiteral("1"));
    // The reader's first window must not be the test's settings' business.
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), testsupport::scratchDir());

    const ReaderRun run = runReader({testsupport::fixturePath("nested")}, environment);
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_TRUE(run.out.contains("first page loaded")) << run.out.toStdString();
    EXPECT_EQ(run.err.count("sandbox"), 1) << run.err.toStdString();
    EXPECT_FALSE(run.err.contains("Init Parameters")) << run.err.toStdString();
    EXPECT_FALSE(run.err.contains("GL Type")) << run.err.toStdString();
}
