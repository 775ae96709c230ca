// chmtool's export of books that cannot be read whole, and on a machine without a display: a
// reading process that dies mid-way writes no PDF; pages the book lists but cannot give are left
// out as damaged, counted, and fail the command, while the PDF of the rest is written.
#include "DyingReadingProgram.h"
#include "ExportTestData.h"
#include "LzxCraftedBooks.h"
#include "TestChmWriter.h"
#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

using namespace testsupport;

TEST(ExportDamagedBook, ReadingProcessKilledMidWayWritesNoPDFAndKeepsTheEarlierFile) {
    const QString folder = exporttest::freshFolder(QStringLiteral("killed"));
    const QString earlier = QDir(folder).filePath(QStringLiteral("nested.pdf"));
    {
        QFile file(earlier);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("an earlier export");
    }
    // The process dies when the second chapter's first page is asked for.
    const ToolRun run = runChmToolReadingWith(
        dyingReadingProgram(QStringLiteral("chapter2/summary.htm")),
        {QStringLiteral("export"), fixturePath(QStringLiteral("nested")), folder});
    EXPECT_EQ(run.status, 1) << run.err.toStdString();
    EXPECT_TRUE(run.err.contains(QLatin1String("reading process has stopped")))
        << run.err.toStdString();
    EXPECT_FALSE(run.err.contains(QLatin1String("not in the book"))) << run.err.toStdString();
    EXPECT_FALSE(run.out.contains("written")) << run.out.toStdString();
    EXPECT_EQ(QDir(folder).entryList(QDir::Files | QDir::Hidden),
              QStringList{QStringLiteral("nested.pdf")});
    EXPECT_EQ(readWholeFile(earlier), QByteArray("an earlier export"));
}

TEST(ExportDamagedBook, PagesThatCannotBeReadAreCountedAndFailTheExportOfTheRest) {
    const LzxCraftedBook book = partlyUnreadableLzxBook();
    const QString folder = exporttest::freshFolder(QStringLiteral("partly-unreadable"));
    const ToolRun run = runChmTool({QStringLiteral("export"), book.path, folder});
    EXPECT_EQ(run.status, 1) << run.err.toStdString();
    EXPECT_TRUE(
        run.err.contains(QLatin1String("left out: it cannot be read (the book is damaged)")))
        << run.err.toStdString();
    EXPECT_FALSE(run.err.contains(QLatin1String("not in the book"))) << run.err.toStdString();
    const QStringList errors = run.err.trimmed().split(QLatin1Char('\n'));
    EXPECT_TRUE(errors.last().endsWith(
        QLatin1String("1 of 3 pages left out, 1 of them because the book is damaged")))
        << run.err.toStdString();
    const QString pdf = QDir(folder).filePath(QStringLiteral("lzx-partly-unreadable.pdf"));
    ASSERT_TRUE(QFile::exists(pdf)) << run.out.toStdString();
    const QString text = exporttest::pageTexts(pdf).join(QLatin1Char('\n'));
    EXPECT_TRUE(text.contains(QLatin1String("First readable page"))) << text.toStdString();
    EXPECT_TRUE(text.contains(QLatin1String("Last readable page"))) << text.toStdString();
    EXPECT_FALSE(text.contains(QLatin1String(kLzxCanary))) << text.toStdString();
}

TEST(ExportDamagedBook, APageTheBookLacksIsNotInTheBookAndDoesNotFailTheExport) {
    const QByteArray system =
        systemFile({{0, QByteArray("toc.hhc", 8)}, {2, QByteArray("index.htm", 10)}});
    const QByteArray toc =
        "<ul><li><object type=\"text/sitemap\"><param name=\"Local\" value=\"index.htm\">"
        "</object><li><object type=\"text/sitemap\"><param name=\"Local\" value=\"gone.htm\">"
        "</object></ul>";
    const QString book =
        writeScratchFile(QStringLiteral("lacks-a-page.chm"),
                         writeChm({{"/#SYSTEM", system},
                                   {"/toc.hhc", toc},
                                   {"/index.htm", "<html><body><p>Present</p></body></html>"}}));
    const QString folder = exporttest::freshFolder(QStringLiteral("lacks-a-page"));
    const ToolRun run = runChmTool({QStringLiteral("export"), book, folder});
    EXPECT_EQ(run.status, 0) << run.err.toStdString();
    EXPECT_TRUE(run.err.contains(QLatin1String("left out: not in the book")))
        << run.err.toStdString();
    EXPECT_TRUE(run.err.contains(QLatin1String("1 of 2 pages left out"))) << run.err.toStdString();
    EXPECT_FALSE(run.err.contains(QLatin1String("damaged"))) << run.err.toStdString();
    EXPECT_TRUE(QFile::exists(QDir(folder).filePath(QStringLiteral("lacks-a-page.pdf"))));
}

TEST(ExportDamagedBook, ExportWithoutADisplayOrPlatformPrintsOffscreen) {
    const QString folder = exporttest::freshFolder(QStringLiteral("no-display"));
    const QStringList withoutDisplay{QStringLiteral("-u"), QStringLiteral("QT_QPA_PLATFORM"),
                                     QStringLiteral("-u"), QStringLiteral("DISPLAY"),
                                     QStringLiteral("-u"), QStringLiteral("WAYLAND_DISPLAY"),
                                     chmtoolPath(),        QStringLiteral("export")};
    const ToolRun run =
        runProgram(QStringLiteral("env"),
                   withoutDisplay + QStringList{fixturePath(QStringLiteral("links")), folder});
    EXPECT_EQ(run.status, 0) << run.err.toStdString();
    EXPECT_TRUE(QFile::exists(QDir(folder).filePath(QStringLiteral("links.pdf"))));
    const ToolRun help = runProgram(QStringLiteral("env"), withoutDisplay + QStringList{"--help"});
    EXPECT_EQ(help.status, 0) << help.err.toStdString();
    EXPECT_TRUE(help.out.startsWith("usage:"));
    const ToolRun malformed =
        runProgram(QStringLiteral("env"), withoutDisplay + QStringList{folder});
    EXPECT_EQ(malformed.status, 2) << malformed.err.toStdString();
}
