// Sitemap trees built from real sitemap bytes: parsing rules, purge, page list, lookups,
// filtering, result lists, and hostile input.
#include "CHMSearchResult.h"
#include "CHMTableOfContent.h"
#include "LinkItem.h"
#include "ScoredLinkItem.h"

#include <QByteArray>
#include <QString>
#include <QTemporaryFile>
#include <cstdio>
#include <gtest/gtest.h>
#include <memory>
#include <unistd.h>

namespace {

QString u8(const char* text) {
    return QString::fromUtf8(text);
}

std::unique_ptr<CHMTableOfContent> parse(const QByteArray& sitemap, const QString& encoding = {}) {
    return std::make_unique<CHMTableOfContent>(sitemap, encoding);
}

// One list item as sitemaps write it.
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

// Redirects the process's standard error into a temporary file while it lives.
class StderrCapture {
public:
    StderrCapture() {
        _file.open();
        std::fflush(stderr);
        _saved = dup(STDERR_FILENO);
        dup2(_file.handle(), STDERR_FILENO);
    }
    QByteArray finish() {
        std::fflush(stderr);
        dup2(_saved, STDERR_FILENO);
        close(_saved);
        _file.seek(0);
        return _file.readAll();
    }

private:
    QTemporaryFile _file;
    int _saved = -1;
};

} // namespace

// ---- Parsing rules -------------------------------------------------------------------------

TEST(SitemapParsing, FirstNameWinsAndLastLocalWins) {
    auto toc = parse("<ul><li><object type=\"text/sitemap\">"
                     "<param name=\"Name\" value=\"A\"><param name=\"Name\" value=\"B\">"
                     "<param name=\"Local\" value=\"a.htm\"><param name=\"Local\" value=\"b.htm\">"
                     "</object></ul>");
    ASSERT_EQ(toc->rootChildrenCount(), 1u);
    EXPECT_EQ(top(*toc, 0)->name(), u"A");
    EXPECT_EQ(top(*toc, 0)->path(), u"b.htm");
}

TEST(SitemapParsing, KeywordNamesAnEntryLikeName) {
    auto toc = parse("<ul><li><object><param name=\"Keyword\" value=\"kw\">"
                     "<param name=\"Name\" value=\"later\"><param name=\"Local\" value=\"k.htm\">"
                     "</object></ul>");
    ASSERT_EQ(toc->rootChildrenCount(), 1u);
    EXPECT_EQ(top(*toc, 0)->name(), u"kw");
}

TEST(SitemapParsing, ElementAndParameterNamesIgnoreCase) {
    auto toc = parse("<UL><LI><OBJECT><PARAM NAME=\"NAME\" VALUE=\"Upper\">"
                     "<Param Name=\"local\" Value=\"x.htm\"></OBJECT>"
                     "<li><object><param name=\"LOCAL\" value=\"y.htm\"></object></UL>");
    ASSERT_EQ(toc->rootChildrenCount(), 2u);
    EXPECT_EQ(top(*toc, 0)->name(), u"Upper");
    EXPECT_EQ(top(*toc, 0)->path(), u"x.htm");
    EXPECT_EQ(top(*toc, 1)->path(), u"y.htm");
}

TEST(SitemapParsing, ParamMissingNameOrValueIsIgnored) {
    auto toc = parse("<ul><li><object><param name=\"Name\"><param value=\"x\">"
                     "<param name=\"Name\" value=\"kept\"></object></ul>");
    ASSERT_EQ(toc->rootChildrenCount(), 1u);
    EXPECT_EQ(top(*toc, 0)->name(), u"kept");
}

TEST(SitemapParsing, OtherParametersAreIgnored) {
    auto toc = parse("<ul><li><object><param name=\"ImageNumber\" value=\"11\">"
                     "<param name=\"Merge\" value=\"x.chm\"></object></ul>");
    EXPECT_EQ(toc->rootChildrenCount(), 0u);
}

TEST(SitemapParsing, NestedListsBuildSubEntries) {
    auto toc =
        parse(list(entry("Chapter", "c.htm") + list(entry("S1", "s1.htm") + entry("S2", "s2.htm")) +
                   entry("Next", "n.htm")));
    ASSERT_EQ(toc->rootChildrenCount(), 2u);
    LinkItem* chapter = top(*toc, 0);
    ASSERT_EQ(chapter->numberOfChildren(), 2u);
    EXPECT_EQ(chapter->childAtIndex(1)->name(), u"S2");
    EXPECT_EQ(chapter->childAtIndex(1)->parent(), chapter);
    EXPECT_EQ(top(*toc, 1)->name(), u"Next");
}

TEST(SitemapParsing, ParametersAfterNestedListApplyToItsOwner) {
    auto toc = parse("<ul><li><object><param name=\"Name\" value=\"Owner\"></object>" +
                     list(entry("Child", "child.htm")) +
                     "<param name=\"Local\" value=\"owner.htm\"></ul>");
    ASSERT_EQ(toc->rootChildrenCount(), 1u);
    EXPECT_EQ(top(*toc, 0)->path(), u"owner.htm");
    EXPECT_EQ(top(*toc, 0)->childAtIndex(0)->path(), u"child.htm");
}

TEST(SitemapParsing, ItemsOutsideAnyListBecomeTopLevel) {
    auto toc = parse(entry("Loose", "loose.htm") + entry("Other", "other.htm"));
    ASSERT_EQ(toc->rootChildrenCount(), 2u);
    EXPECT_EQ(top(*toc, 1)->name(), u"Other");
}

TEST(SitemapParsing, MissingOrEmptyDataGivesOnlyTheRoot) {
    for (const QByteArray& data : {QByteArray(), QByteArray(""), QByteArray("\0<ul>", 5)}) {
        auto toc = parse(data);
        EXPECT_EQ(toc->rootChildrenCount(), 0u);
        EXPECT_TRUE(toc->pageList().empty());
        EXPECT_EQ(toc->rootItems()->name(), u"root");
        EXPECT_EQ(toc->rootItems()->path(), u"/");
    }
}

TEST(SitemapParsing, InputEndsAtFirstNul) {
    QByteArray data = list(entry("Before", "before.htm"));
    data += '\0';
    data += list(entry("After", "after.htm"));
    auto toc = parse(data);
    ASSERT_EQ(toc->rootChildrenCount(), 1u);
    EXPECT_EQ(top(*toc, 0)->name(), u"Before");
}

TEST(SitemapParsing, EmptyValueIsANameNotAMissingOne) {
    auto toc = parse("<ul><li><object><param name=\"Name\" value=\"\">"
                     "<param name=\"Name\" value=\"second\"></object></ul>");
    ASSERT_EQ(toc->rootChildrenCount(), 1u);
    EXPECT_FALSE(top(*toc, 0)->name().isNull());
    EXPECT_TRUE(top(*toc, 0)->name().isEmpty());
}

// ---- Purge ---------------------------------------------------------------------------------

TEST(SitemapPurge, RemovesEntriesWithoutNamePathOrChildren) {
    auto toc = parse(list(entry("A", "a.htm") + entry(nullptr, nullptr) + entry("B", nullptr)));
    ASSERT_EQ(toc->rootChildrenCount(), 2u);
    EXPECT_EQ(top(*toc, 0)->name(), u"A");
    EXPECT_EQ(top(*toc, 1)->name(), u"B");
}

TEST(SitemapPurge, KeepsAnEntryWithOnlySubEntries) {
    auto toc = parse(list(entry(nullptr, nullptr) + list(entry("Sub", "sub.htm"))));
    ASSERT_EQ(toc->rootChildrenCount(), 1u);
    EXPECT_TRUE(top(*toc, 0)->name().isNull());
    EXPECT_EQ(top(*toc, 0)->numberOfChildren(), 1u);
}

TEST(SitemapPurge, EntryWhoseSubEntriesAreAllEmptyStaysWithEmptyList) {
    auto toc = parse(list(entry(nullptr, nullptr) + list(entry(nullptr, nullptr))));
    ASSERT_EQ(toc->rootChildrenCount(), 1u);
    EXPECT_EQ(top(*toc, 0)->numberOfChildren(), 0u);
    EXPECT_TRUE(top(*toc, 0)->hasChildList());
}

// ---- Page list -----------------------------------------------------------------------------

TEST(SitemapPageList, ConsecutiveEntriesOfOnePageShareItsIndex) {
    auto toc = parse(list(entry("1", "a.htm") + entry("2", "a.htm#s1") + entry("3", "b.htm") +
                          entry("4", "a.htm")));
    const auto& pages = toc->pageList();
    ASSERT_EQ(pages.size(), 3u);
    EXPECT_EQ(pages[0]->path(), u"a.htm");
    EXPECT_EQ(pages[1]->path(), u"b.htm");
    EXPECT_EQ(pages[2]->path(), u"a.htm");
    EXPECT_EQ(top(*toc, 0)->pageID(), 0u);
    EXPECT_EQ(top(*toc, 1)->pageID(), 0u);
    EXPECT_EQ(top(*toc, 2)->pageID(), 1u);
    EXPECT_EQ(top(*toc, 3)->pageID(), 2u);
    EXPECT_EQ(pages[2].get(), top(*toc, 3));
}

TEST(SitemapPageList, ReadingOrderIsPreOrder) {
    auto toc = parse(list(entry("P", "p.htm") + list(entry("C", "c.htm")) + entry("Q", "q.htm")));
    const auto& pages = toc->pageList();
    ASSERT_EQ(pages.size(), 3u);
    EXPECT_EQ(pages[1]->path(), u"c.htm");
    EXPECT_EQ(pages[2]->path(), u"q.htm");
}

TEST(SitemapPageList, SamePageDespiteSlashDotSegmentsQueryAndParameters) {
    EXPECT_TRUE(CHMTableOfContent::isSamePage(u8("a.htm"), u8("/a.htm")));
    EXPECT_TRUE(CHMTableOfContent::isSamePage(u8("a.htm"), u8("a.htm#s2")));
    EXPECT_TRUE(CHMTableOfContent::isSamePage(u8("x/../a.htm"), u8("./a.htm")));
    EXPECT_TRUE(CHMTableOfContent::isSamePage(u8("a.htm?q=1"), u8("a.htm;p")));
    EXPECT_TRUE(CHMTableOfContent::isSamePage(u8("my page.htm"), u8("my%20page.htm")));
    EXPECT_TRUE(CHMTableOfContent::isSamePage(u8("中文.htm"), u8("中文.htm#x")));
    EXPECT_FALSE(CHMTableOfContent::isSamePage(u8("a.htm"), u8("A.htm")));
    EXPECT_FALSE(CHMTableOfContent::isSamePage(u8("a.htm"), u8("a.html")));
    EXPECT_FALSE(CHMTableOfContent::isSamePage(u8("http://[bad/a.htm"), u8("http://[bad/a.htm")));
}

TEST(SitemapPageList, EntriesWithoutPathAreNotListed) {
    auto toc = parse(list(entry("Folder", nullptr) + list(entry("In", "in.htm"))));
    ASSERT_EQ(toc->pageList().size(), 1u);
    EXPECT_EQ(top(*toc, 0)->pageID(), 0u);
    EXPECT_EQ(toc->pageList()[0]->path(), u"in.htm");
}

TEST(SitemapPageList, NextAndPreviousStopAtTheEnds) {
    auto toc = parse(list(entry("1", "a.htm") + entry("2", "b.htm") + entry("3", "c.htm")));
    const auto& pages = toc->pageList();
    ASSERT_EQ(pages.size(), 3u);
    EXPECT_EQ(toc->getNextPage(pages[0].get()), pages[1].get());
    EXPECT_EQ(toc->getNextPage(pages[2].get()), nullptr);
    EXPECT_EQ(toc->getPrevPage(pages[0].get()), nullptr);
    EXPECT_EQ(toc->getPrevPage(pages[2].get()), pages[1].get());
    EXPECT_EQ(toc->getNextPage(nullptr), pages[1].get());
    EXPECT_EQ(toc->getPrevPage(nullptr), nullptr);
}

TEST(SitemapPageList, ForeignItemWithLargePageIdGivesNoPage) {
    auto toc = parse(list(entry("1", "a.htm") + entry("2", "b.htm")));
    LinkItem foreign(u8("x"), u8("x.htm"));
    foreign.setPageID(~quint64(0));
    EXPECT_EQ(toc->getNextPage(&foreign), nullptr);
    foreign.setPageID(50);
    EXPECT_EQ(toc->getPrevPage(&foreign), nullptr);
}

// ---- Lookup by path ------------------------------------------------------------------------

TEST(SitemapLookup, FindsEntryAndFillsStackInnermostFirstEndingWithRoot) {
    auto toc =
        parse(list(entry("Intro", "intro.htm") + entry("Part", "part.htm") +
                   list(entry("Chapter", "chap.htm") + list(entry("Page", "sub/page.htm")))));
    std::vector<LinkItem*> stack;
    LinkItem* found = toc->itemForPath(u8("/sub/page.htm"), &stack);
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found->name(), u"Page");
    ASSERT_EQ(stack.size(), 3u);
    EXPECT_EQ(stack[0]->name(), u"Chapter");
    EXPECT_EQ(stack[1]->name(), u"Part");
    EXPECT_EQ(stack[2], toc->rootItems());
}

TEST(SitemapLookup, FailedSearchLeavesStackEmpty) {
    auto toc = parse(list(entry("A", "a.htm") + list(entry("B", "b.htm"))));
    std::vector<LinkItem*> stack;
    EXPECT_EQ(toc->itemForPath(u8("missing.htm"), &stack), nullptr);
    EXPECT_TRUE(stack.empty());
}

TEST(SitemapLookup, SpaceFindsEntryWrittenWithPercent20) {
    auto toc = parse(list(entry("Spaced", "my%20page.htm")));
    LinkItem* found = toc->itemForPath(u8("/my page.htm"), nullptr);
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found->name(), u"Spaced");
}

TEST(SitemapLookup, PrefixMatchesOnlyAtPageBoundary) {
    auto toc = parse(list(entry("Html", "a.html") + entry("Anchor", "a.htm#intro") +
                          entry("Query", "q.htm?x=1") + entry("Param", "p.htm;v")));
    ASSERT_NE(toc->itemForPath(u8("a.htm"), nullptr), nullptr);
    EXPECT_EQ(toc->itemForPath(u8("a.htm"), nullptr)->name(), u"Anchor");
    EXPECT_EQ(toc->itemForPath(u8("a.html"), nullptr)->name(), u"Html");
    EXPECT_EQ(toc->itemForPath(u8("q.htm"), nullptr)->name(), u"Query");
    EXPECT_EQ(toc->itemForPath(u8("p.htm"), nullptr)->name(), u"Param");
    EXPECT_EQ(toc->itemForPath(u8("a.h"), nullptr), nullptr);
    EXPECT_EQ(toc->itemForPath(u8("A.HTM"), nullptr), nullptr);
}

TEST(SitemapLookup, EmptyPathFindsNothing) {
    auto toc = parse(list(entry("A", "a.htm")));
    EXPECT_EQ(toc->itemForPath(u8("/"), nullptr), nullptr);
    EXPECT_EQ(toc->itemForPath(QString(), nullptr), nullptr);
}

TEST(SitemapLookup, FirstMatchInReadingOrderWins) {
    auto toc = parse(list(entry("Parent", "p.htm") + list(entry("Deep", "x.htm"))) +
                     list(entry("Later", "x.htm")));
    EXPECT_EQ(toc->itemForPath(u8("x.htm"), nullptr)->name(), u"Deep");
}

// ---- Sorting and filtering -----------------------------------------------------------------

TEST(SitemapSort, SortsTopLevelByUpperCaseNameOnly) {
    auto toc = parse(list(entry("beta", "b.htm") + list(entry("z", "z.htm") + entry("y", "y.htm")) +
                          entry("Alpha", "a.htm") + entry("ALPHA2", "a2.htm")));
    toc->sort();
    ASSERT_EQ(toc->rootChildrenCount(), 3u);
    EXPECT_EQ(top(*toc, 0)->name(), u"Alpha");
    EXPECT_EQ(top(*toc, 1)->name(), u"ALPHA2");
    EXPECT_EQ(top(*toc, 2)->name(), u"beta");
    EXPECT_EQ(top(*toc, 2)->childAtIndex(0)->name(), u"z");
}

TEST(SitemapSort, EntriesWithoutNameComeFirst) {
    auto toc = parse(list(entry("b", "b.htm") + entry(nullptr, "n.htm")));
    toc->sort();
    EXPECT_TRUE(top(*toc, 0)->name().isNull());
}

TEST(SitemapFilter, KeepsTopLevelEntriesBeginningWithTextIgnoringCase) {
    auto index = parse(list(entry("Abc", "abc.htm") + entry("xyz", "x.htm") +
                            list(entry("ab inside", "in.htm")) + entry("ABACUS", "abacus.htm") +
                            list(entry("child", "child.htm")) + entry("cab", "cab.htm")));
    auto filtered = CHMTableOfContent::filterByNamePrefix(index.get(), u8("ab"));
    ASSERT_EQ(filtered->rootChildrenCount(), 2u);
    EXPECT_EQ(top(*filtered, 0), top(*index, 0));
    EXPECT_EQ(top(*filtered, 1)->name(), u"ABACUS");
    EXPECT_EQ(top(*filtered, 1)->numberOfChildren(), 1u);
    EXPECT_TRUE(filtered->pageList().empty());
    EXPECT_EQ(filtered->rootItems()->name(), u"root");
}

TEST(SitemapFilter, NullTreeGivesEmptyRoot) {
    auto filtered = CHMTableOfContent::filterByNamePrefix(nullptr, u8("a"));
    EXPECT_EQ(filtered->rootChildrenCount(), 0u);
}

TEST(SitemapFilter, SharedEntriesOutliveTheirSourceTree) {
    auto index = parse(list(entry("Abc", "abc.htm") + list(entry("child", "c.htm"))));
    auto filtered = CHMTableOfContent::filterByNamePrefix(index.get(), u8("a"));
    LinkItem* shared = top(*filtered, 0);
    EXPECT_EQ(shared->parent(), index->rootItems());
    index.reset();
    EXPECT_EQ(shared->parent(), nullptr);
    EXPECT_EQ(shared->name(), u"Abc");
    EXPECT_EQ(shared->childAtIndex(0)->parent(), shared);
}

// ---- Search results ------------------------------------------------------------------------

TEST(SearchResult, SortsHitsByScoreAndDropsUnknownPages) {
    std::shared_ptr<const CHMTableOfContent> toc =
        parse(list(entry("A", "a.htm") + entry("B", "b.htm")));
    std::shared_ptr<const CHMTableOfContent> index = parse(list(entry("Kw C", "c.htm")));
    CHMSearchResult result(toc, index);
    EXPECT_TRUE(result.addPath(u8("/a.htm"), 0.2f));
    EXPECT_TRUE(result.addPath(u8("/b.htm"), 0.9f));
    EXPECT_TRUE(result.addPath(u8("/c.htm"), 0.5f));
    EXPECT_FALSE(result.addPath(u8("/nowhere.htm"), 1.0f));
    result.sort();
    ASSERT_EQ(result.rootChildrenCount(), 3u);
    std::vector<float> scores;
    for (const LinkItemPtr& hit : result.rootItems()->children())
        scores.push_back(std::static_pointer_cast<ScoredLinkItem>(hit)->relScore());
    EXPECT_EQ(scores, (std::vector<float>{0.9f, 0.5f, 0.2f}));
    EXPECT_EQ(top(result, 0)->name(), u"B");
    EXPECT_EQ(top(result, 1)->name(), u"Kw C");
    EXPECT_NE(top(result, 0), top(*toc, 1));
    EXPECT_TRUE(result.pageList().empty());
}

TEST(SearchResult, TableOfContentsIsAskedBeforeIndex) {
    std::shared_ptr<const CHMTableOfContent> toc = parse(list(entry("From toc", "p.htm")));
    std::shared_ptr<const CHMTableOfContent> index = parse(list(entry("From index", "p.htm")));
    CHMSearchResult result(toc, index);
    result.addPath(u8("p.htm"), 1.0f);
    EXPECT_EQ(top(result, 0)->name(), u"From toc");
}

TEST(SearchResult, WorksWithoutTrees) {
    CHMSearchResult result(nullptr, nullptr);
    EXPECT_FALSE(result.addPath(u8("a.htm"), 1.0f));
    EXPECT_EQ(result.rootItems()->name(), u"root");
    EXPECT_NE(dynamic_cast<ScoredLinkItem*>(result.rootItems()), nullptr);
}

TEST(SearchResult, NanScoresSortLast) {
    std::shared_ptr<const CHMTableOfContent> toc =
        parse(list(entry("A", "a.htm") + entry("B", "b.htm") + entry("C", "c.htm")));
    CHMSearchResult result(toc, nullptr);
    result.addPath(u8("a.htm"), std::numeric_limits<float>::quiet_NaN());
    result.addPath(u8("b.htm"), 0.1f);
    result.addPath(u8("c.htm"), 0.3f);
    result.sort();
    EXPECT_EQ(top(result, 0)->name(), u"C");
    EXPECT_EQ(top(result, 2)->name(), u"A");
}

// ---- Encodings -----------------------------------------------------------------------------

TEST(SitemapEncoding, GbkSitemapWithCp936GivesChineseNames) {
    // "中文" and "目录" in GBK.
    auto toc = parse("<ul><li><object><param name=\"Name\" value=\"\xD6\xD0\xCE\xC4\">"
                     "<param name=\"Local\" value=\"\xC4\xBF\xC2\xBC.htm\"></object></ul>",
                     u8("CP936"));
    ASSERT_EQ(toc->rootChildrenCount(), 1u);
    EXPECT_EQ(top(*toc, 0)->name(), u8("中文"));
    EXPECT_EQ(top(*toc, 0)->path(), u8("目录.htm"));
}

TEST(SitemapEncoding, Cp1251SitemapGivesCyrillicNames) {
    auto toc = parse(list(entry("\xCF\xF0\xE8\xE2\xE5\xF2", "p.htm")), u8("CP1251"));
    ASSERT_EQ(toc->rootChildrenCount(), 1u);
    EXPECT_EQ(top(*toc, 0)->name(), u8("Привет"));
}

TEST(SitemapEncoding, DefaultIsLatin1) {
    auto toc = parse(list(entry("Caf\xE9", "c.htm")));
    ASSERT_EQ(toc->rootChildrenCount(), 1u);
    EXPECT_EQ(top(*toc, 0)->name(), u8("Café"));
}

TEST(SitemapEncoding, GivenEncodingBeatsMetaCharset) {
    auto toc = parse("<html><head><meta http-equiv=\"Content-Type\" "
                     "content=\"text/html; charset=utf-8\"></head><body>" +
                         list(entry("\xCF\xF0\xE8\xE2\xE5\xF2", "p.htm")),
                     u8("CP1251"));
    ASSERT_EQ(toc->rootChildrenCount(), 1u);
    EXPECT_EQ(top(*toc, 0)->name(), u8("Привет"));
}

TEST(SitemapEncoding, UnknownEncodingNameStillParses) {
    auto toc = parse(list(entry("Plain", "p.htm")), u8("no-such-charset"));
    ASSERT_EQ(toc->rootChildrenCount(), 1u);
    EXPECT_EQ(top(*toc, 0)->name(), u"Plain");
}

// ---- Hostile input -------------------------------------------------------------------------

TEST(SitemapHostile, VeryDeepNestingIsCappedAndKeepsEveryEntry) {
    constexpr int depth = 100000;
    QByteArray data;
    for (int i = 0; i < depth; ++i)
        data += "<ul><li><object><param name=\"Name\" value=\"n\"><param name=\"Local\" value=\"p" +
                QByteArray::number(i) + ".htm\"></object>";
    auto toc = parse(data);
    int levels = 0;
    quint64 items = 0;
    const LinkItem* deepest = toc->rootItems();
    toc->rootItems()->enumerateItems([&items](LinkItem*) { ++items; });
    while (deepest->numberOfChildren() > 0) {
        deepest = deepest->childAtIndex(static_cast<int>(deepest->numberOfChildren()) - 1);
        ++levels;
    }
    EXPECT_EQ(levels, CHMTableOfContent::kMaxDepth);
    EXPECT_EQ(items, quint64(depth));
    EXPECT_EQ(toc->pageList().size(), size_t(depth));
    std::vector<LinkItem*> stack;
    LinkItem* last = toc->itemForPath(u8("p99999.htm"), &stack);
    ASSERT_NE(last, nullptr);
    EXPECT_EQ(stack.size(), size_t(CHMTableOfContent::kMaxDepth));
    toc->rootItems()->purge();
    EXPECT_FALSE(toc->rootItems()->description().isEmpty());
}

TEST(SitemapHostile, VeryDeepUnclosedListsWithoutItems) {
    QByteArray data = QByteArray("<ul>").repeated(200000) + entry("Inner", "in.htm");
    auto toc = parse(data);
    ASSERT_EQ(toc->rootChildrenCount(), 1u);
    EXPECT_EQ(top(*toc, 0)->name(), u"Inner");
}

TEST(SitemapHostile, HandBuiltDeepChainIsWalkedAndDestroyedSafely) {
    auto root = std::make_shared<LinkItem>(u8("root"), u8("/"));
    LinkItem* tail = root.get();
    for (int i = 0; i < 200000; ++i) {
        auto child = std::make_shared<LinkItem>(u8("n"), QString());
        tail->appendChild(child);
        tail = child.get();
    }
    tail->setPath(u8("end.htm"));
    std::vector<LinkItem*> stack;
    EXPECT_EQ(root->findByPath(u8("end.htm"), &stack), tail);
    EXPECT_EQ(stack.size(), 200000u);
    root->purge();
    root->sort();
    EXPECT_GT(root->description().size(), 200000);
    root.reset();
}

TEST(SitemapHostile, UnclosedListsAndStrayEndTags) {
    auto toc = parse("</ul></ul></li><ul><li><object><param name=\"Name\" value=\"A\">"
                     "</ul></ul></ul><li><object><param name=\"Name\" value=\"B\"><ul><ul><li>");
    EXPECT_GE(toc->rootChildrenCount(), 1u);
    EXPECT_EQ(top(*toc, 0)->name(), u"A");
}

TEST(SitemapHostile, UnmatchedListEndsDoNothing) {
    auto toc = parse(list(entry("A", "a.htm")));
    for (int i = 0; i < 5; ++i)
        toc->pop_item();
    EXPECT_EQ(toc->rootChildrenCount(), 1u);
}

TEST(SitemapHostile, BrokenMarkupGivesReadableTreeSilently) {
    const QByteArray inputs[] = {
        "<ul><li><object><param name=\"Name\" value=\"unterminated><param name=\"Local\" "
        "value=\"x\">",
        "<ul><li><object><param name='Name' value='A'><param name=Local value=a.htm></object><li",
        "<ul><li><obj<<<>>><param name=\"Name\" value=\"Z\"></ul>\xFF\xFE\x80garbage<![CDATA[",
        "<!-- never closed <ul><li><param name=\"Name\" value=\"hidden\">",
        "<ul><li><param =\"\" name value><param name=\"Name\" value=\"\xC3\x28\"></ul>",
        QByteArray("\xEF\xBB\xBF<ul><li><param name=Name value=bom></ul>"),
        QByteArray(4096, '<'),
    };
    for (const char* encoding : {"", "UTF-8", "CP936", "CP1251", "no-such-charset"}) {
        for (const QByteArray& input : inputs) {
            StderrCapture capture;
            auto toc = parse(input, u8(encoding));
            const QByteArray printed = capture.finish();
            EXPECT_TRUE(printed.isEmpty()) << encoding << ": " << printed.constData();
            toc->rootItems()->enumerateItems([](LinkItem* item) { (void)item->name().size(); });
        }
    }
}

TEST(SitemapHostile, InvalidBytesForTheEncodingPrintNothing) {
    StderrCapture capture;
    auto toc = parse(list(entry("ok", "ok.htm")) + "\x81\x20\xFF\xFF" + list(entry("B", "b.htm")),
                     u8("CP936"));
    EXPECT_TRUE(capture.finish().isEmpty());
    EXPECT_GE(toc->rootChildrenCount(), 1u);
    EXPECT_EQ(top(*toc, 0)->name(), u"ok");
}

TEST(SitemapHostile, ItemsBeyondTheLimitAreDropped) {
    QByteArray data = QByteArray("<li><param name=name value=a>")
                          .repeated(static_cast<qsizetype>(CHMTableOfContent::kMaxItems));
    data += QByteArray("<li><param name=name value=over>").repeated(3);
    auto toc = parse(data);
    ASSERT_EQ(toc->rootChildrenCount(), CHMTableOfContent::kMaxItems);
    EXPECT_EQ(toc->rootItems()->children().back()->name(), u"a");
}

TEST(SitemapHostile, ParametersBeforeTheFirstEntryLeaveTheRootAlone) {
    const auto toc = parse("<object type=\"text/site properties\"><param name=\"Local\" "
                           "value=\"stray.htm\"></object>" +
                           list(entry("A", "a.htm")));
    EXPECT_EQ(toc->rootItems()->path(), QStringLiteral("/"));
    ASSERT_EQ(toc->pageList().size(), 1u);
    EXPECT_EQ(toc->pageList()[0]->name(), QStringLiteral("A"));
}
