// The reader as a program: started as root it turns the engine's sandbox off itself and says
// so in one line, and the engine's start-up report stays off standard error.
#include "TestSupport.h"

#include <QProcess>
#include <gtest/gtest.h>
#include <unistd.h>

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
    QProcess reader;
    reader.setProcessEnvironment(environment);
    reader.start(QStringLiteral(LUMENO_READER_EXE), {testsupport::fixturePath("nested")});
    const bool finished = reader.waitForFinished(120000);
    if (!finished)
        reader.kill(), reader.waitForFinished();
    ASSERT_TRUE(finished);
    const QString out = QString::fromLocal8Bit(reader.readAllStandardOutput());
    const QString err = QString::fromLocal8Bit(reader.readAllStandardError());
    EXPECT_EQ(reader.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(reader.exitCode(), 0) << err.toStdString();
    EXPECT_TRUE(out.contains("first page loaded")) << out.toStdString();
    EXPECT_EQ(err.count("sandbox"), 1) << err.toStdString();
    EXPECT_FALSE(err.contains("Init Parameters") || err.contains("GL Type")) << err.toStdString();
}
