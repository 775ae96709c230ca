// Sitemap trees built from real sitemap bytes: parsing rules, purge, page list, lookups,
// filtering, result lists, hostile input, and the items' own child lists.
#include "CHMSearchResult.h"
#include "CHMTableOfContent.h"
#include "LinkItem.h"

#include <QByteArray>
#include <QStringList>
#include <gtest/gtest.h>
#include <limits>
#include <memory>

namespace {

std::unique_ptr<CHMTableOfContent> parse(const QByteArray& sitemap, const QString& encoding = {}) {
    return std::make_unique<CHMTableOfContent>(sitemap, encoding);
}

QByteArray entry(const char* name, const char* local) {
    QByteArray out = "<li><object type=\"text/sitemap\">";
    if (name)
        out += QByteArray("<param name=\"Name\" value=\"") + name + "\">";
    if (local)
        out += QByteArray("<param name=\"Local\" value=\"") + local + "\">";
    return out + "</object>";
}

QByteArray list(const QByteArray& items) {
    return "<ul>" + items + "</ul>";
}

LinkItem* top(const CHMTableOfContent& toc, int index) {
    return toc.rootItems()->childAtIndex(index);
}

LinkItemPtr item(const QString& name, const QString& path = QString()) {
    return std::make_shared<LinkItem>(name, path);
}

QStringList namesBelow(const LinkItem* item) {
    QStringList names;
    for (const LinkItemPtr& child : item->children())
        names << child->name();
    return names;
}

} // namespace

TEST(SitemapParsing, FirstNameOrKeywordWinsLastLocalWinsAndNamesIgnoreCase) {
    auto toc = parse("<UL><LI><OBJECT><PARAM NAME=\"KEYWORD\" VALUE=\"\">"
                     "<param name=\"Name\" value=\"B\"><Param Name=\"local\" Value=\"a.htm\">"
                     "<param name=\"Local\" value=\"b.htm\"></OBJECT>"
                     "<li><object><param name=\"Name\"><param value=\"x\">"
                     "<param name=\"ImageNumber\" value=\"11\"><param name=\"Name\" value=\"kept\">"
                     "</object><li><object><param name=\"Merge\" value=\"x.chm\"></object></UL>");
    EXPECT_EQ(namesBelow(toc->rootItems()), (QStringList{"", "kept"}));
    EXPECT_FALSE(top(*toc, 0)->name().isNull()); // an empty value is still a name
    EXPECT_EQ(top(*toc, 0)->path(), u"b.htm");
}

TEST(SitemapParsing, NestedListsBuildSubEntriesAndLateParametersApplyToTheOwner) {
    auto toc = parse(list("<li><object><param name=\"Name\" value=\"Chapter\"></object>" +
                          list(entry("S1", "s1.htm") + entry("S2", "s2.htm")) +
                          "<param name=\"Local\" value=\"c.htm\">" + entry("Next", "n.htm")) +
                     entry("Loose", "loose.htm"));
    EXPECT_EQ(namesBelow(toc->rootItems()), (QStringList{"Chapter", "Next", "Loose"}));
    EXPECT_EQ(top(*toc, 0)->path(), u"c.htm");
    EXPECT_EQ(namesBelow(top(*toc, 0)), (QStringList{"S1", "S2"}));
}

TEST(SitemapParsing, ANulByteEndsTheNameItIsInNotTheSitemap) {
    const QByteArray cut = QByteArray("<li><object><param name=\"Name\" value=\"Cut") + '\0' +
                           "hidden\"><param name=\"Local\" value=\"c.htm\"></object>";
    const QByteArray data =
        list(entry("Before", "b.htm")) + '\0' + list(cut + entry("After", "a.htm"));
    auto toc = parse(data);
    EXPECT_EQ(namesBelow(toc->rootItems()), (QStringList{"Before", "Cut", "After"}));
    EXPECT_EQ(toc->pageList().size(), 3u);
}

TEST(SitemapPurge, DropsOnlyEntriesWithoutNamePathOrChildList) {
    auto toc = parse(list(entry("A", "a.htm") + entry(nullptr, nullptr) + entry("B", nullptr) +
                          entry(nullptr, nullptr) + list(entry("Sub", "sub.htm")) +
                          entry(nullptr, nullptr) + list(entry(nullptr, nullptr))));
    ASSERT_EQ(namesBelow(toc->rootItems()), (QStringList{"A", "B", QString(), QString()}));
    EXPECT_EQ(top(*toc, 2)->numberOfChildren(), 1u);
    EXPECT_TRUE(top(*toc, 3)->hasChildList() && top(*toc, 3)->numberOfChildren() == 0);
}

TEST(SitemapPageList, ConsecutiveEntriesOfOnePageShareItsIndexInReadingOrder) {
    auto toc = parse(
        list(entry("1", "a.htm") + entry("2", "/a.htm#s1") + entry("3", "x/../a.htm;p") +
             entry("4", "./a.htm?q=1") + entry("Folder", nullptr) +
             list(entry("5", "my page.htm") + entry("6", "my%20page.htm")) + entry("7", "a.htm") +
             entry("8", "A.htm") + entry("9", "A.html") + entry("10", "中文.htm") +
             entry("11", "中文.htm#x") + entry("12", "http://[bad") + entry("13", "http://[bad")));
    QList<quint64> ids;
    toc->rootItems()->enumerateItems([&ids](LinkItem* item) {
        if (!item->path().isEmpty())
            ids << item->pageID();
    });
    EXPECT_EQ(ids, (QList<quint64>{0, 0, 0, 0, 1, 1, 2, 3, 4, 5, 5, 6, 7}));
    EXPECT_EQ(toc->pageList().size(), 8u);
}

TEST(SitemapPageList, NextAndPreviousStopAtTheEndsAndRejectForeignItems) {
    auto toc = parse(list(entry("1", "a.htm") + entry("2", "b.htm") + entry("3", "c.htm")));
    const auto& pages = toc->pageList();
    ASSERT_EQ(pages.size(), 3u);
    EXPECT_EQ(toc->getNextPage(pages[2].get()), nullptr);
    EXPECT_EQ(toc->getPrevPage(pages[0].get()), nullptr);
    EXPECT_EQ(toc->getPrevPage(pages[2].get()), pages[1].get());
    EXPECT_EQ(toc->getNextPage(nullptr), pages[1].get());
    LinkItem foreign("x", "x.htm");
    foreign.setPageID(~quint64(0));
    EXPECT_EQ(toc->getNextPage(&foreign), nullptr);
    foreign.setPageID(50);
    EXPECT_EQ(toc->getPrevPage(&foreign), nullptr);
}

TEST(SitemapLookup, FirstMatchInReadingOrderWithStackInnermostFirstEndingWithRoot) {
    auto toc = parse(list(entry("Part", "part.htm") + list(entry("Chapter", "chap.htm") +
                                                           list(entry("Page", "sub/page.htm")))) +
                     list(entry("Later", "sub/page.htm")));
    std::vector<LinkItem*> stack, missed;
    LinkItem* found = toc->itemForPath("/sub/page.htm", &stack);
    EXPECT_EQ(found ? found->name() : QString(), "Page");
    ASSERT_EQ(stack.size(), 3u);
    EXPECT_EQ(stack[0]->name(), u"Chapter");
    EXPECT_EQ(stack[2], toc->rootItems());
    EXPECT_EQ(toc->itemForPath("missing.htm", &missed), nullptr);
    EXPECT_TRUE(missed.empty());
}

TEST(SitemapLookup, PrefixMatchesOnlyAtPageBoundary) {
    auto toc = parse(list(entry("Html", "a.html") + entry("Anchor", "a.htm#intro") +
                          entry("Query", "q.htm?x=1") + entry("Param", "p.htm;v") +
                          entry("Spaced", "my%20page.htm")));
    QStringList found;
    for (const char* path : {"a.htm", "a.html", "q.htm", "p.htm", "/my page.htm"}) {
        const LinkItem* item = toc->itemForPath(path, nullptr);
        found << (item ? item->name() : QString());
    }
    EXPECT_EQ(found, (QStringList{"Anchor", "Html", "Query", "Param", "Spaced"}));
    for (const char* path : {"a.h", "A.HTM", "/", ""})
        EXPECT_EQ(toc->itemForPath(path, nullptr), nullptr) << path;
}

TEST(SitemapSort, SortsTopLevelByUpperCaseNameWithUnnamedFirst) {
    auto toc =
        parse(list(entry("beta", "b.htm") + list(entry("z", "z.htm") + entry("y", "y.htm")) +
                   entry("Alpha", "a.htm") + entry(nullptr, "n.htm") + entry("ALPHA2", "a2.htm")));
    toc->sort();
    EXPECT_EQ(namesBelow(toc->rootItems()), (QStringList{QString(), "Alpha", "ALPHA2", "beta"}));
    EXPECT_EQ(namesBelow(top(*toc, 3)), (QStringList{"z", "y"}));
}

TEST(SitemapFilter, SharesTopLevelEntriesBeginningWithTextIgnoringCase) {
    auto index = parse(list(entry("Abc", "abc.htm") + entry("xyz", "x.htm") +
                            list(entry("ab inside", "in.htm")) + entry("ABACUS", "abacus.htm") +
                            list(entry("child", "child.htm")) + entry("cab", "cab.htm")));
    auto filtered = CHMTableOfContent::filterByNamePrefix(index.get(), "ab");
    EXPECT_EQ(namesBelow(filtered->rootItems()), (QStringList{"Abc", "ABACUS"}));
    EXPECT_EQ(top(*filtered, 0), top(*index, 0));
    EXPECT_EQ(CHMTableOfContent::filterByNamePrefix(nullptr, "a")->rootChildrenCount(), 0u);
    // The shared entries outlive their source tree.
    LinkItem* abacus = top(*filtered, 1);
    index.reset();
    EXPECT_EQ(abacus->parent(), nullptr);
    EXPECT_EQ(abacus->childAtIndex(0)->parent(), abacus);
}

TEST(SearchResult, ListsKnownPagesByScoreNanLastTableOfContentsFirst) {
    CHMSearchResult result(
        parse(list(entry("A", "a.htm") + entry("B", "b.htm") + entry("N", "n.htm"))),
        parse(list(entry("Kw C", "c.htm") + entry("Kw A", "a.htm"))));
    result.addPath("/a.htm", 0.2f);
    result.addPath("n.htm", std::numeric_limits<float>::quiet_NaN());
    result.addPath("/b.htm", 0.9f);
    result.addPath("/c.htm", 0.5f);
    EXPECT_FALSE(result.addPath("/nowhere.htm", 1.0f));
    result.sort();
    EXPECT_EQ(namesBelow(result.rootItems()), (QStringList{"B", "Kw C", "A", "N"}));
    EXPECT_FALSE(CHMSearchResult(nullptr, nullptr).addPath("a.htm", 1.0f));
}

TEST(SearchResult, HitsAddedBestFirstKeepTheirOrderAmongEqualScoresWhenSorted) {
    CHMSearchResult result(parse(list(entry("A", "a.htm") + entry("B", "b.htm") +
                                      entry("C", "c.htm") + entry("N", "n.htm"))),
                           nullptr);
    result.addPath("/b.htm", 0.9f);
    result.addPath("/c.htm", 0.5f);
    result.addPath("/a.htm", 0.5f);
    result.addPath("/n.htm", std::numeric_limits<float>::quiet_NaN());
    result.sort();
    EXPECT_EQ(namesBelow(result.rootItems()), (QStringList{"B", "C", "A", "N"}));
}

TEST(SitemapEncoding, NamesAreDecodedInTheGivenEncodingElseLatin1) {
    const QByteArray meta = "<html><head><meta http-equiv=\"Content-Type\" "
                            "content=\"text/html; charset=utf-8\"></head><body>";
    const struct {
        QByteArray sitemap;
        const char *encoding, *name, *path;
    } cases[] = {
        {list(entry("\xD6\xD0\xCE\xC4", "\xC4\xBF\xC2\xBC.htm")), "CP936", "中文", "目录.htm"},
        // The given encoding beats the sitemap's own charset.
        {meta + list(entry("\xCF\xF0\xE8\xE2\xE5\xF2", "p.htm")), "CP1251", "Привет", "p.htm"},
        {list(entry("Caf\xE9", "c.htm")), "", "Café", "c.htm"},
        {list(entry("Plain", "p.htm")), "no-such-charset", "Plain", "p.htm"},
    };
    for (const auto& c : cases) {
        auto toc = parse(c.sitemap, c.encoding);
        ASSERT_EQ(toc->rootChildrenCount(), 1u) << c.encoding;
        EXPECT_EQ(top(*toc, 0)->name(), QString(c.name)) << c.encoding;
        EXPECT_EQ(top(*toc, 0)->path(), QString(c.path)) << c.encoding;
    }
}

TEST(SitemapHostile, UnclosedListsAndStrayEndTagsKeepTheEntries) {
    auto deep = parse(QByteArray("<ul>").repeated(200000) + entry("Inner", "in.htm"));
    EXPECT_EQ(namesBelow(deep->rootItems()), QStringList{"Inner"});
    auto toc = parse("</ul></ul></li><ul><li><object><param name=\"Name\" value=\"A\">"
                     "</ul></ul></ul><li><object><param name=\"Name\" value=\"B\"><ul><ul><li>");
    EXPECT_EQ(namesBelow(toc->rootItems()).value(0), "A");
}

TEST(SitemapHostile, BrokenMarkupAndInvalidBytesGiveATreeSilently) {
    const QByteArray inputs[] = {
        "<ul><li><object><param name=\"Name\" value=\"unterminated><param name=\"Local\" "
        "value=\"x\">",
        "<ul><li><object><param name='Name' value='A'><param name=Local value=a.htm></object><li",
        "<ul><li><obj<<<>>><param name=\"Name\" value=\"Z\"></ul>\xFF\xFE\x80garbage<![CDATA[",
        "<!-- never closed <ul><li><param name=\"Name\" value=\"hidden\">",
        "<ul><li><param =\"\" name value><param name=\"Name\" value=\"\xC3\x28\"></ul>",
        QByteArray("\xEF\xBB\xBF<ul><li><param name=Name value=bom></ul>"),
        QByteArray(4096, '<'),
        list(entry("ok", "ok.htm")) + "\x81\x20\xFF\xFF",
    };
    using testing::internal::CaptureStderr;
    using testing::internal::GetCapturedStderr;
    for (const char* encoding : {"", "UTF-8", "CP936", "CP1251", "no-such-charset"}) {
        for (const QByteArray& input : inputs) {
            CaptureStderr();
            auto toc = parse(input, encoding);
            EXPECT_EQ(GetCapturedStderr(), "") << encoding;
            toc->rootItems()->enumerateItems([](LinkItem* item) { (void)item->name().size(); });
        }
    }
    // Entries before bytes the converter rejects are kept.
    EXPECT_EQ(namesBelow(parse(inputs[7], "CP936")->rootItems()).value(0), "ok");
}

TEST(SitemapHostile, ParametersBeforeTheFirstEntryLeaveTheRootAlone) {
    const auto toc = parse("<object type=\"text/site properties\"><param name=\"Local\" "
                           "value=\"stray.htm\"></object>" +
                           list(entry("A", "a.htm")));
    EXPECT_EQ(toc->rootItems()->path(), QStringLiteral("/"));
    EXPECT_EQ(toc->pageList().size(), 1u);
}

TEST(LinkItem, ChildListLivesWhileItHasChildrenAndIndexesOutsideItGiveNull) {
    auto parent = item("p");
    auto child = item("a");
    parent->appendChild(child);
    EXPECT_TRUE(parent->childAtIndex(-1) == nullptr && parent->childAtIndex(1) == nullptr);
    EXPECT_EQ(child->parent(), parent.get());
    parent->removeChild();
    EXPECT_TRUE(child->parent() == nullptr && !parent->hasChildList());
    parent->removeChild(); // without a list: a no-op, not a crash
}
