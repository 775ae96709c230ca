// Link targets found by URL: escapes, fragments, first anchor wins, and targets never placed.
#include "LinkDestinationTable.h"
#include "PrintedLinkRewriter.h"

#include <gtest/gtest.h>

TEST(LinkTargetTable, LinkFindsItsAnchorEscapedOrNotAndFallsBackToThePage) {
    LinkDestinationTable table;
    table.addPageTarget(LinkDestinationTable::pageURL(QStringLiteral("Topic One.htm")), 0)
        ->place(3, {0, 800});
    table
        .addAnchorTarget(LinkDestinationTable::anchorURL(QStringLiteral("Topic One.htm"),
                                                         QStringLiteral("Part")),
                         0, 40)
        ->place(4, {10, 500});
    const LinkDestinationItem* part =
        table.IsDestinationLinkExistForPath(QStringLiteral("itss://chm/Topic%20One.htm#Part"));
    ASSERT_TRUE(part);
    EXPECT_EQ(part->pdfPageNo(), 4u);
    const LinkDestinationItem* page =
        table.IsDestinationLinkExistForPath(QStringLiteral("itss://chm/topic%20one.htm#missing"));
    ASSERT_TRUE(page);
    EXPECT_EQ(page->pdfPageNo(), 3u);
    EXPECT_FALSE(table.IsDestinationLinkExistForPath(QStringLiteral("itss://chm/other.htm")));
}

TEST(LinkTargetTable, TargetNeverPrintedLeadsNowhereOrToItsPage) {
    LinkDestinationTable table;
    table.addPageTarget(LinkDestinationTable::pageURL(QStringLiteral("blank.htm")), 0);
    table.addPageTarget(LinkDestinationTable::pageURL(QStringLiteral("a.htm")), 1)
        ->place(2, {0, 700});
    table.addAnchorTarget(
        LinkDestinationTable::anchorURL(QStringLiteral("a.htm"), QStringLiteral("lost")), 1, 9000);
    EXPECT_FALSE(table.IsDestinationLinkExistForPath(QStringLiteral("itss://chm/blank.htm")));
    const LinkDestinationItem* fallback =
        table.IsDestinationLinkExistForPath(QStringLiteral("itss://chm/a.htm#lost"));
    ASSERT_TRUE(fallback);
    EXPECT_EQ(fallback->pdfPageNo(), 2u);
}

TEST(LinkTargetTable, FirstElementWithANameWinsAndAListedFragmentIsReplaced) {
    LinkDestinationTable table;
    table.addPageTarget(LinkDestinationTable::pageURL(QStringLiteral("x.htm#top")), 0);
    EXPECT_TRUE(table.itemForKey(QStringLiteral("itss://chm/x.htm")));
    EXPECT_EQ(LinkDestinationTable::anchorURL(QStringLiteral("x.htm#top"), QStringLiteral("b")),
              QStringLiteral("itss://chm/x.htm#b"));
    EXPECT_TRUE(table.addAnchorTarget(QStringLiteral("itss://chm/x.htm#b"), 0, 5));
    EXPECT_FALSE(table.addAnchorTarget(QStringLiteral("itss://chm/X.htm#B"), 0, 50));
    EXPECT_EQ(table.itemForKey(QStringLiteral("itss://chm/x.htm#b"))->charIndex(), 5u);
    EXPECT_EQ(table.count(), 2u);
}

TEST(LinkTargetTable, HelpFileLinksIntoThisBookBecomeItsOwnAndOthersLeadNowhere) {
    const std::pair<const char*, const char*> cases[] = {
        {"ms-its:FCL.chm::/db/a.html#x", "itss://chm/db/a.html#x"},
        {"mk:@MSITStore:C:\\help\\fcl.chm::/b.htm", "itss://chm/b.htm"},
        {"ms-its:rtl.chm::/system/a.html", "-"},
        {"ms-its:broken", "-"},
        {"https://example.org/", ""}, // not a help file link: left alone
        {"itss://chm/a.htm", ""}};
    for (const auto& [link, target] : cases)
        EXPECT_EQ(PrintedLinkRewriter::helpFileLinkTarget(QString::fromUtf8(link),
                                                          QStringLiteral("fcl.chm")),
                  QString::fromUtf8(target))
            << link;
}
