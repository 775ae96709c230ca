// chmtool's command line and where it finds its reading program: a malformed line exits 2
// before any book is opened, help needs no book, and the program as built finds the reading
// program the build put beside it, or says where it looked.
#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

using namespace testsupport;

TEST(ChmToolCommandLine, MalformedLinesExitTwoAndHelpExitsZero) {
    const QString book = fixturePath(QStringLiteral("nested"));
    const QList<QStringList> malformed = {
        {},
        {QStringLiteral("info")},
        {QStringLiteral("info"), book, QStringLiteral("extra")},
        {QStringLiteral("cat"), book},
        {QStringLiteral("serve"), book, QStringLiteral("itss://chm/a.htm"), QStringLiteral("-o")},
        {QStringLiteral("search"), book},
        {QStringLiteral("frobnicate"), book},
    };
    for (const QStringList& args : malformed) {
        const ToolRun run = runChmTool(args);
        EXPECT_EQ(run.status, 2) << args.join(' ').toStdString() << ": " << run.err.toStdString();
        EXPECT_TRUE(run.err.contains(QLatin1String("usage:"))) << args.join(' ').toStdString();
        EXPECT_TRUE(run.out.isEmpty());
    }
    for (const QStringList& args : QList<QStringList>{{QStringLiteral("--help")},
                                                      {QStringLiteral("-h")},
                                                      {QStringLiteral("export"), "--help"}}) {
        const ToolRun run = runChmTool(args);
        EXPECT_EQ(run.status, 0) << args.join(' ').toStdString() << ": " << run.err.toStdString();
        EXPECT_TRUE(run.out.startsWith("usage:")) << args.join(' ').toStdString();
    }
}

TEST(ChmToolCommandLine, TheProgramAsBuiltFindsItsReadingProgram) {
    const ToolRun run =
        runProgram(QStringLiteral("env"),
                   {QStringLiteral("-u"), QStringLiteral("LUMENO_CHM_READER"), chmtoolPath(),
                    QStringLiteral("info"), fixturePath(QStringLiteral("nested"))});
    EXPECT_EQ(run.status, 0) << run.err.toStdString();
    EXPECT_EQ(run.lines().value(0), QStringLiteral("title: Nested Window Title"));
}

TEST(ChmToolCommandLine, AMissingReadingProgramIsReportedWithWhereItWasLookedFor) {
    // A copy with no reading program beside it or in ../libexec/lumeno.
    const QString folder = scratchDir() + QStringLiteral("/lone/bin");
    ASSERT_TRUE(QDir().mkpath(folder));
    const QString lone = folder + QStringLiteral("/chmtool");
    QFile::remove(lone);
    ASSERT_TRUE(QFile::copy(chmtoolPath(), lone));
    const ToolRun run = runProgram(QStringLiteral("env"),
                                   {QStringLiteral("-u"), QStringLiteral("LUMENO_CHM_READER"), lone,
                                    QStringLiteral("info"), fixturePath(QStringLiteral("nested"))});
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(run.err.contains(QLatin1String("lumeno-chm-reader is missing")))
        << run.err.toStdString();
    EXPECT_TRUE(run.err.contains(QDir(folder).canonicalPath())) << run.err.toStdString();
    EXPECT_TRUE(run.err.contains(QDir(scratchDir()).canonicalPath() +
                                 QStringLiteral("/lone/libexec/lumeno")))
        << run.err.toStdString();

    const ToolRun named = runProgram(
        QStringLiteral("env"),
        {QStringLiteral("LUMENO_CHM_READER=") + scratchDir() + QStringLiteral("/no-such-program"),
         chmtoolPath(), QStringLiteral("info"), fixturePath(QStringLiteral("nested"))});
    EXPECT_EQ(named.status, 1);
    EXPECT_TRUE(named.err.contains(QLatin1String("LUMENO_CHM_READER names")))
        << named.err.toStdString();
}
