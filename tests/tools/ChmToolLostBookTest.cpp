// chmtool on a book whose reading process dies mid-way (a stand-in in front of the real program
// dies when asked for a given object): no command passes the partial answers off as the book's,
// and the commands that need no sitemap never ask for one.
#include "DyingReadingProgram.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

using namespace testsupport;

TEST(ChmToolLostBook, SearchWhoseReadingProcessDiesMidWayPrintsNoHitAndExitsOne) {
    const QString book = fixturePath(QStringLiteral("chunks"));
    const QString word = QStringLiteral("page");
    // The word is on every page: the whole book answers many hits.
    ASSERT_GT(runChmTool({QStringLiteral("search"), book, word}).lines().size(), 40);
    const ToolRun run = runChmToolReadingWith(dyingReadingProgram(QStringLiteral("/pages/page-40")),
                                              {QStringLiteral("search"), book, word});
    EXPECT_EQ(run.status, 1) << run.err.toStdString();
    EXPECT_TRUE(run.out.isEmpty()) << run.out.left(200).toStdString();
    EXPECT_EQ(run.err.trimmed().count(QLatin1Char('\n')), 0) << run.err.toStdString();
    EXPECT_TRUE(run.err.contains(QLatin1String("reading process has stopped")))
        << run.err.toStdString();
}

TEST(ChmToolLostBook, TreesOfABookWhoseProcessDiesOnTheSitemapAreNotPrinted) {
    const QString book = fixturePath(QStringLiteral("nested"));
    const QString dying = dyingReadingProgram(QStringLiteral("nested.hhc"));
    for (const char* command : {"toc", "pages", "search"}) {
        QStringList args{QString::fromLatin1(command), book};
        if (args[0] == QLatin1String("search"))
            args << QStringLiteral("overview");
        const ToolRun run = runChmToolReadingWith(dying, args);
        EXPECT_EQ(run.status, 1) << command << ": " << run.err.toStdString();
        EXPECT_TRUE(run.out.isEmpty()) << command << ": " << run.out.toStdString();
    }
}

TEST(ChmToolLostBook, InfoListCatAndServeReadNoSitemap) {
    const QString book = fixturePath(QStringLiteral("nested"));
    // The process dies if anything asks for the contents or the index.
    const QString dying = dyingReadingProgram(QStringLiteral("nested.hh"));
    const ToolRun info = runChmToolReadingWith(dying, {QStringLiteral("info"), book});
    EXPECT_EQ(info.status, 0) << info.err.toStdString();
    EXPECT_EQ(info.lines().value(2), QStringLiteral("toc: nested.hhc"));
    const ToolRun list = runChmToolReadingWith(dying, {QStringLiteral("list"), book});
    EXPECT_EQ(list.status, 0) << list.err.toStdString();
    EXPECT_TRUE(list.lines().contains(QStringLiteral("/intro.htm")));
    const ToolRun cat =
        runChmToolReadingWith(dying, {QStringLiteral("cat"), book, QStringLiteral("/intro.htm")});
    EXPECT_EQ(cat.status, 0) << cat.err.toStdString();
    EXPECT_EQ(cat.out, runChmTool({QStringLiteral("cat"), book, QStringLiteral("/intro.htm")}).out);
    const ToolRun serve = runChmToolReadingWith(
        dying, {QStringLiteral("serve"), book, QStringLiteral("itss://chm/intro.htm")});
    EXPECT_EQ(serve.status, 0) << serve.err.toStdString();
    EXPECT_EQ(serve.lines().value(0), QStringLiteral("status: ok"));
}

TEST(ChmToolLostBook, AnObjectReadAfterTheProcessDiedIsNotCalledMissing) {
    const QString book = fixturePath(QStringLiteral("nested"));
    const QString dying = dyingReadingProgram(QStringLiteral("/intro.htm"));
    const ToolRun cat =
        runChmToolReadingWith(dying, {QStringLiteral("cat"), book, QStringLiteral("/intro.htm")});
    EXPECT_EQ(cat.status, 1);
    EXPECT_TRUE(cat.err.contains(QLatin1String("reading process has stopped")))
        << cat.err.toStdString();
    const ToolRun serve = runChmToolReadingWith(
        dying, {QStringLiteral("serve"), book, QStringLiteral("itss://chm/intro.htm")});
    EXPECT_EQ(serve.status, 1);
    EXPECT_FALSE(serve.out.contains("status: missing")) << serve.out.toStdString();
    EXPECT_TRUE(serve.err.contains(QLatin1String("reading process has stopped")))
        << serve.err.toStdString();
}
