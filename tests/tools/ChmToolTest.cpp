// chmtool's answers on the real-world corpus and the fixtures: later checks compare its output,
// so what it prints is part of the contract.
#include "CHMDocument.h"
#include "TestSupport.h"

#include <gtest/gtest.h>
#include <memory>

using namespace testsupport;

namespace {

QStringList lines(const QString& text) {
    return text.split('\n', Qt::SkipEmptyParts);
}

struct CorpusExpectation {
    const char* file;
    const char* info; // the five lines of "info", joined by '|'
    int tocItems, indexItems, pages, objects;
};

// What each file holds, checked by hand against its sitemaps and directory: non-ASCII names
// come out as UTF-8 whatever the file's code page, and the Free Pascal files list every object.
const CorpusExpectation kCorpus[] = {
    {"en-eminder-spaces-in-paths.chm", "E - Minder - HELP|Introduction.htm|Help.hhc||CP1252", 15, 0,
     15, 62},
    {"en-fpc-fcl-chmcmd-large.chm",
     "(FCL) Free Component Library|index.html|Default.hhc|Default.hhk|CP1252", 838, 7080, 779,
     4765},
    {"en-fpc-fpdoc-chmcmd-notoc.chm", "FPDoc documentation|fpdoc/fpdoc.html|||", 0, 0, 0, 147},
    {"en-putty-halibut.chm", "PuTTY User Manual|index.html|contents.hhc|index.hhk|CP1252", 513, 957,
     513, 532},
    {"en-riak-sandcastle-api.chm",
     "Riak .NET Client "
     "Documentation|html/R_Project_Documentation.htm|Documentation.hhc|Documentation.hhk|CP1252",
     3015, 5667, 3015, 3111},
    {"ja-sjis-doxygen-api.chm", "Lib|index.html|index.hhc|index.hhk|CP932", 163, 306, 35, 111},
    {"ja-sjis-winring0-manual.chm",
     "WinRing0 マニュアル|_RESOURCE/WhatIsWinRing0.html|manual-ja.hhc|manual-ja.hhk|CP932", 65, 60,
     60, 94},
    {"ko-cp949-nero-burningrom.chm",
     "Nero Burning ROM|htm/.....1.htm|NeroBurningRom_Kor.hhc|NeroBurningRom_Kor.hhk|CP949", 110, 90,
     89, 203},
    {"ru-cp1251-htm2chm-cyrillic-paths.chm",
     "Главное меню|Главное меню.html|TOC.hhc|Index.hhk|CP1251", 7, 7, 7, 33},
    {"ru-cp1251-kord-help.chm", "Координатор|index.html|/help.hhc||CP1251", 9, 0, 9, 44},
    {"zh-big5-nero-burningrom.chm",
     "Nero Burning ROM|htm/.....1.htm|NeroBurningRom_Cht.hhc|NeroBurningRom_Cht.hhk|CP950", 110, 88,
     89, 203},
    {"zh-gbk-7zip-help.chm", "7-Zip 帮助|start.htm|7-Zip.hhc|7-Zip.hhk|CP936", 57, 55, 57, 93},
    {"zh-gbk-pbootcms-nonascii-paths.chm",
     "PbootCMS标签手册—20180831—翱云科技版权所有|关于我们.htm|help.hhc||CP936", 32, 0, 29, 53},
};

} // namespace

TEST(ChmToolCorpus, InfoTreesPagesAndObjectListsMatchEachFile) {
    REQUIRE_CORPUS();
    for (const CorpusExpectation& e : kCorpus) {
        const QString file = corpusPath(e.file);
        SCOPED_TRACE(e.file);
        const ToolRun info = runChmTool({"info", file});
        ASSERT_EQ(info.status, 0) << info.err.toStdString();
        const QStringList expected = QString::fromUtf8(e.info).split('|');
        const QStringList got = QString::fromUtf8(info.out).split('\n');
        ASSERT_GE(got.size(), 5);
        const char* keys[] = {"title: ", "home: ", "toc: ", "index: ", "encoding: "};
        for (int i = 0; i < 5; ++i)
            EXPECT_EQ(got[i], QString::fromLatin1(keys[i]) + expected[i]);
        EXPECT_EQ(runChmTool({"toc", file}).lines().size(), e.tocItems);
        EXPECT_EQ(runChmTool({"index", file}).lines().size(), e.indexItems);
        EXPECT_EQ(runChmTool({"pages", file}).lines().size(), e.pages);
        EXPECT_EQ(runChmTool({"list", file}).lines().size(), e.objects);
    }
}

TEST(ChmToolCorpus, EntityEncodedCyrillicNamesReadAsCyrillic) {
    REQUIRE_CORPUS("ru-cp1251-kord-help.chm");
    const QStringList toc = runChmTool({"toc", corpusPath("ru-cp1251-kord-help.chm")}).lines();
    ASSERT_GE(toc.size(), 2);
    EXPECT_EQ(toc[0], QString::fromUtf8("Главная страница\tindex.html"));
    EXPECT_EQ(toc[1], QString::fromUtf8("О программе КООРДИНАТОР\thelp5.html"));
}

TEST(ChmToolCorpus, CatGivesTheObjectsBytesAndFailsOnMissingObjects) {
    REQUIRE_CORPUS("en-putty-halibut.chm");
    const QString file = corpusPath("en-putty-halibut.chm");
    const ToolRun page = runChmTool({"cat", file, "/index.html"});
    EXPECT_EQ(page.status, 0);
    EXPECT_TRUE(page.out.startsWith("<"));
    const ToolRun missing = runChmTool({"cat", file, "/no/such.htm"});
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(lines(missing.err).size(), 1);
}

TEST(ChmToolErrors, UnopenableFileExitsOneWithOneLine) {
    const QString notChm = writeScratchFile("not.chm", "just text, not a container");
    for (const QString& file : {notChm, scratchDir() + "/missing.chm"}) {
        const ToolRun run = runChmTool({"info", file});
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(lines(run.err).size(), 1) << run.err.toStdString();
        EXPECT_TRUE(run.out.isEmpty());
    }
}

TEST(ChmToolFixtures, NestedFixtureTreesAndPageList) {
    const QString file = fixturePath("nested");
    const QStringList pages = runChmTool({"pages", file}).lines();
    const QStringList expectedPages = {"index.htm",
                                       "intro.htm",
                                       "chapter1/overview.htm",
                                       "chapter1/details.htm",
                                       "chapter1/deep/leaf.htm",
                                       "chapter1/deep/leaf2.htm",
                                       "chapter2/summary.htm",
                                       "chapter2/appendix.html",
                                       "intro.htm"};
    EXPECT_EQ(pages, expectedPages);
    const QStringList index = runChmTool({"index", file}).lines();
    ASSERT_GE(index.size(), 5);
    EXPECT_EQ(index[0], "Abacus\tchapter1/details.htm#abacus");
    EXPECT_EQ(index[1], "ABC\tindex.htm");
    EXPECT_TRUE(index.contains("  Chapter one\tchapter1/overview.htm"));
    const QStringList info = runChmTool({"info", file}).lines();
    EXPECT_EQ(info.value(0), "title: Nested Window Title");
}

TEST(ChmToolFixtures, GbkBookDecodesItsSitemapsAndTitle) {
    const QString file = fixturePath("gbk");
    const QStringList toc = runChmTool({"toc", file}).lines();
    ASSERT_GE(toc.size(), 3);
    EXPECT_EQ(toc[0], QString::fromUtf8("首页\tindex.htm"));
    EXPECT_EQ(toc[2], QString::fromUtf8("  搜索\tsearch.htm"));
    const QStringList info = runChmTool({"info", file}).lines();
    EXPECT_EQ(info.value(0), QString::fromUtf8("title: 简体中文测试手册"));
    EXPECT_EQ(info.value(4), "encoding: CP936");
}

TEST(ChmToolFixtures, BookWithoutSitemapsFindsItsDefaultPage) {
    const QStringList info = runChmTool({"info", fixturePath("bare")}).lines();
    EXPECT_EQ(info.value(1), "home: /default.htm");
    EXPECT_EQ(info.value(2), "toc: ");
    EXPECT_TRUE(runChmTool({"toc", fixturePath("bare")}).out.isEmpty());
}

TEST(ChmToolFixtures, ObjectsBehindTheWrongFirstListingChunkAreListed) {
    const QStringList objects = runChmTool({"list", fixturePath("chunks")}).lines();
    EXPECT_TRUE(objects.contains(
        "/pages/page-00-with-a-long-name-so-the-directory-needs-more-than-one-listing-chunk.htm"));
    EXPECT_TRUE(objects.contains(
        "/pages/page-63-with-a-long-name-so-the-directory-needs-more-than-one-listing-chunk.htm"));
}

TEST(ChmToolFixtures, CatReadsEveryObjectThatListPrintsTheInternalStreamsToo) {
    const QString file = fixturePath("nested");
    const QStringList listed = runChmTool({"list", file}).lines();
    std::unique_ptr<CHMDocument> doc = CHMDocument::open(file);
    ASSERT_TRUE(doc);
    ASSERT_EQ(listed.size(), static_cast<qsizetype>(doc->objects().size()));
    int streams = 0;
    for (const CHMObjectEntry& e : doc->objects()) {
        const QString name = QString::fromUtf8(e.name);
        const ToolRun cat = runChmTool({"cat", file, name});
        EXPECT_EQ(cat.status, 0) << e.name.constData() << ": " << cat.err.toStdString();
        EXPECT_EQ(static_cast<quint64>(cat.out.size()), e.length) << e.name.constData();
        streams += name.startsWith("::DataSpace/") ? 1 : 0;
    }
    EXPECT_GE(streams, 3);
}
