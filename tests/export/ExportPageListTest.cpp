// The export's page list on compiled books: home page, contents, then every other HTML page,
// each once.
#include "ExportPageList.h"
#include "CHMDocument.h"
#include "CHMTableOfContent.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

namespace {

QStringList pagesOf(const QString& fixture) {
    std::unique_ptr<CHMDocument> document = CHMDocument::open(testsupport::fixturePath(fixture));
    EXPECT_TRUE(document);
    if (!document)
        return {};
    const auto toc = document->tocSource();
    ExportPageList list(toc ? toc->pageList() : std::vector<LinkItemPtr>());
    list.addDocumentPages(*document);
    QStringList paths;
    for (const LinkItemPtr& item : list.items())
        paths << item->path();
    return paths;
}

ExportPageList listOf(std::initializer_list<const char*> paths) {
    std::vector<LinkItemPtr> items;
    for (const char* path : paths)
        items.push_back(
            std::make_shared<LinkItem>(QStringLiteral("entry"), QString::fromUtf8(path)));
    return ExportPageList(items);
}

} // namespace

TEST(ExportPageList, ContentsFirstThenPagesOnlyLinksReachEachOnceOrTheHomePageFirst) {
    // The contents of "links" name index.htm twice (again as index.htm#bottom) and russian.htm
    // with an anchor; hidden.htm, five.htm and image.htm are in no entry. "bare" has no contents.
    EXPECT_EQ(pagesOf(QStringLiteral("links")),
              (QStringList{"index.htm", "chapter.htm", "russian.htm#konec", "japanese.htm",
                           "blank.htm", "five.htm", "hidden.htm", "image.htm"}));
    EXPECT_EQ(pagesOf(QStringLiteral("bare")), (QStringList{"default.htm", "other.htm"}));
}

TEST(ExportPageList, NestedBookKeepsOrphansAndLeavesOutWhatIsNoHTMLPage) {
    const QStringList pages = pagesOf(QStringLiteral("nested"));
    EXPECT_EQ(pages.count(QStringLiteral("orphan.htm")), 1);
    for (const QString& page : pages) {
        EXPECT_TRUE(page.contains(QLatin1String(".htm"), Qt::CaseInsensitive))
            << page.toStdString();
        EXPECT_FALSE(page.startsWith(QLatin1Char('/'))) << page.toStdString();
    }
    EXPECT_FALSE(pages.contains(QStringLiteral("notes/README")));
    // Each page once, whatever fragments or queries the contents add.
    QStringList bare;
    for (const QString& page : pages)
        bare << ExportPageList::pageOfPath(page).toLower();
    bare.removeDuplicates();
    EXPECT_EQ(bare.size(), pages.size());
}

TEST(ExportPageList, CoverageIgnoresCaseAndFragmentsButNotLongerNames) {
    const ExportPageList list =
        listOf({"intro.htm#part2", "Index.HTM", "page.html", "a b.htm", "100A.htm"});
    EXPECT_TRUE(list.FindPageInsidePageList(QStringLiteral("intro.htm")));
    EXPECT_TRUE(list.FindPageInsidePageList(QStringLiteral("index.htm")));
    EXPECT_TRUE(list.FindPageInsidePageList(QStringLiteral("page.html")));
    EXPECT_FALSE(list.FindPageInsidePageList(QStringLiteral("page.htm")));
    EXPECT_FALSE(list.FindPageInsidePageList(QStringLiteral("intro")));
    EXPECT_TRUE(list.FindPageInsidePageList(QStringLiteral("a b.htm")));
    // A percent sign is part of a name ("100%41.htm" is a file of its own).
    EXPECT_FALSE(list.FindPageInsidePageList(QStringLiteral("100%41.htm")));
    EXPECT_FALSE(list.FindPageInsidePageList(QStringLiteral("a b.html")));
    EXPECT_FALSE(ExportPageList().FindPageInsidePageList(QStringLiteral("x.htm")));
}

TEST(ExportPageList, HomeGoesFirstUnlessTheContentsHaveIt) {
    ExportPageList list = listOf({"intro.htm#top"});
    list.insertHome(QStringLiteral("/intro.htm"));
    list.insertHome(QStringLiteral("/start.htm"));
    list.CheckNInsertPath(QStringLiteral("Topics/Setup.HTML"));
    list.CheckNInsertPath(QString());
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(list.at(0).name(), QStringLiteral("Home"));
    EXPECT_EQ(list.at(0).path(), QStringLiteral("start.htm"));
    EXPECT_EQ(list.at(2).name(), QStringLiteral("Setup.HTML"));
    EXPECT_EQ(list.at(2).path(), QStringLiteral("Topics/Setup.HTML"));
}
