// The word matcher: on the words Poppler reads from the web engine's prints of real pages, and
// on the few cases a print cannot show.
#include "LinkDestMatcher.h"
#include "ExportTestData.h"
#include "PageTextContent.h"
#include "PrintedPDFText.h"

#include <gtest/gtest.h>
#include <memory>

namespace {

struct Walk {
    int textPos = 0;
    int textLength = 0;
    std::vector<LinkDestLocation> records;
};

// Matches every printed page of a stored print with the page's anchors as records.
Walk matchPrint(int print) {
    const std::vector<exporttest::StoredPrint> prints = exporttest::storedPrints();
    Walk walk;
    if (print >= static_cast<int>(prints.size()))
        return walk;
    const PageTextContent text = PageTextContent::fromWalk(prints[print].walk);
    PrintedPDFText words(prints[print].pdf);
    EXPECT_TRUE(words.isOk());
    for (const PageTextContent::Anchor& anchor : text.anchors()) {
        LinkDestLocation record;
        record.charIndex = static_cast<uint32_t>(anchor.charIndex);
        walk.records.push_back(record);
    }
    walk.textLength = static_cast<int>(text.text().size());
    // A last record past the end keeps the matcher going through every word.
    LinkDestLocation sentinel;
    sentinel.charIndex = static_cast<uint32_t>(walk.textLength + 1);
    walk.records.push_back(sentinel);
    int recordIndex = 0;
    for (int page = 0; page < words.pageCount(); ++page) {
        const int answer = findLinkDestinations(
            words.wordsOfPage(page), text.text().constData(), &walk.textPos, walk.textLength,
            walk.records.data(), static_cast<int>(walk.records.size()), &recordIndex);
        EXPECT_EQ(answer, 0) << "lost track on page " << page << " of print " << print;
    }
    return walk;
}

std::vector<PrintedWord> words(std::initializer_list<const char*> texts) {
    std::vector<PrintedWord> list;
    double x = 10;
    for (const char* t : texts) {
        list.push_back({t, x, 100});
        x += 50;
    }
    return list;
}

} // namespace

TEST(LinkDestMatcher, FollowsWholePrintedPagesInEnglishRussianAndJapanese) {
    for (int print : {0, 1, 2, 3}) {
        const Walk walk = matchPrint(print);
        // The text position counts the same bytes as the page text: it ends at its end.
        EXPECT_GE(walk.textPos, walk.textLength - 2) << "print " << print;
        EXPECT_LE(walk.textPos, walk.textLength + 2) << "print " << print;
        for (std::size_t r = 0; r + 1 < walk.records.size(); ++r)
            EXPECT_EQ(walk.records[r].found, 1u) << "anchor " << r << " of print " << print;
    }
}

TEST(LinkDestMatcher, NoRecordsOrAllPlacedLeaveThePositionAlone) {
    const char text[] = "Hello world";
    int pos = 0, index = 0;
    EXPECT_EQ(findLinkDestinations(words({"Hello"}), text, &pos, 11, nullptr, 0, &index), 0);
    EXPECT_EQ(pos, 0);
    LinkDestLocation record;
    index = 1;
    EXPECT_EQ(findLinkDestinations(words({"Hello"}), text, &pos, 11, &record, 1, &index), 0);
    EXPECT_EQ(pos, 0);
}

TEST(LinkDestMatcher, RecordLandsOnTheWordAtItsOffsetAcrossNoBreakSpaces) {
    const char text[] = "A\xC2\xA0"
                        "B world";
    LinkDestLocation records[2];
    records[0].charIndex = 3; // "B"
    records[1].charIndex = 5; // "world"
    int pos = 0, index = 0;
    EXPECT_EQ(findLinkDestinations(words({"A", "B", "world"}), text, &pos, 10, records, 2, &index),
              0);
    EXPECT_EQ(index, 2);
    EXPECT_EQ(records[0].x, 60);
    EXPECT_EQ(records[1].x, 110);
    EXPECT_EQ(records[1].y, 98);
}

TEST(LinkDestMatcher, PrintedWordMissingFromTheTextCostsOneRetryWithoutLosingTrack) {
    const char text[] = "alpha beta gamma";
    LinkDestLocation record;
    record.charIndex = 11; // "gamma"
    int pos = 0, index = 0;
    EXPECT_EQ(findLinkDestinations(words({"1.", "alpha", "beta", "gamma"}), text, &pos, 16, &record,
                                   1, &index),
              0);
    EXPECT_EQ(record.found, 1u);
    EXPECT_EQ(record.x, 160);
}

TEST(LinkDestMatcher, WordsPastTheEndOfTheTextReadNothingBeyondIt) {
    // Unmatched words step the position past the end; no byte after the text is compared.
    const std::unique_ptr<char[]> text(new char[2]{'a', 'b'}); // no NUL: a read past it shows
    int pos = 0, index = 0;
    LinkDestLocation record;
    record.charIndex = 100;
    EXPECT_EQ(findLinkDestinations(words({"xxxxxxxx", "yyyyyyyy", "zzzzzzzz", "ab"}), text.get(),
                                   &pos, 2, &record, 1, &index),
              0);
    EXPECT_EQ(record.found, 0u);
}

namespace {

PrintedWord at(const char* text, double x, double y) {
    return {text, x, y};
}

} // namespace

TEST(LinkDestMatcher, HeadingsPaintedBeforeTheTextAroundThemTakeTheirTargetsAndTheWalkGoesOn) {
    // Two boxed headings float beside their sections: the engine paints both before the text of
    // the page, and the second section's text runs on to the next printed page.
    const std::string text = "Intro text \xE2\x97\x86\xC2\xA0"
                             "Alpha alpha body "
                             "\xE2\x97\x86\xC2\xA0"
                             "Beta beta body end";
    const auto alpha = static_cast<uint32_t>(text.find("\xE2\x97\x86"));
    const auto beta = static_cast<uint32_t>(text.find("\xE2\x97\x86", alpha + 1));
    std::vector<LinkDestLocation> records(3);
    records[0].charIndex = 0;
    records[1].charIndex = alpha;
    records[2].charIndex = beta;
    LinkDestMatchState state;
    const std::vector<PrintedWord> first = {
        at("\xE2\x97\x86", 10, 300), at("Alpha", 20, 300), at("\xE2\x97\x86", 10, 500),
        at("Beta", 20, 500),         at("Intro", 10, 100), at("text", 60, 100),
        at("alpha", 10, 330),        at("body", 60, 330),  at("beta", 10, 530)};
    EXPECT_EQ(findLinkDestinations(first, text.data(), static_cast<int>(text.size()),
                                   records.data(), 3, &state),
              0);
    EXPECT_EQ(records[0].y, 98);  // the page's own target: its first line, not a heading
    EXPECT_EQ(records[1].y, 298); // each heading's target: the heading
    EXPECT_EQ(records[2].y, 498);
    for (const LinkDestLocation& record : records)
        EXPECT_EQ(record.found, 1u);
    // Text that follows a heading painted early still lines up, on this page and the next.
    const std::vector<PrintedWord> second = {at("body", 10, 40), at("end", 60, 40)};
    state.recordIndex = 0;
    std::vector<LinkDestLocation> sentinel(1);
    sentinel[0].charIndex = static_cast<uint32_t>(text.size());
    EXPECT_EQ(findLinkDestinations(second, text.data(), static_cast<int>(text.size()),
                                   sentinel.data(), 1, &state),
              0);
    EXPECT_EQ(state.textPos, static_cast<int>(text.size()));
}

TEST(LinkDestMatcher, LongRunOfWordsFurtherOnIsTextThatWasNotPrintedNotAHeading) {
    // The navigation bar is hidden when printing: the printed words start further on, and the
    // walk catches up with them as before.
    const std::string text = "Home Up Next one two three four five six seven eight nine ten "
                             "eleven twelve thirteen fourteen";
    LinkDestLocation record;
    record.charIndex = static_cast<uint32_t>(text.find("three"));
    LinkDestMatchState state;
    std::vector<PrintedWord> printed;
    double x = 0;
    for (const char* word : {"one", "two", "three", "four", "five", "six", "seven", "eight", "nine",
                             "ten", "eleven", "twelve", "thirteen", "fourteen"})
        printed.push_back(at(word, x += 10, 100));
    EXPECT_EQ(findLinkDestinations(printed, text.data(), static_cast<int>(text.size()), &record, 1,
                                   &state),
              0);
    EXPECT_EQ(record.found, 1u);
    EXPECT_EQ(record.x, 30);
    EXPECT_TRUE(state.paintedEarly.empty());
}

TEST(LinkDestMatcher, TextShadowsCountOnceAndTheSameWordElsewhereStays) {
    const std::vector<PrintedWord> painted = {at("bool", 52.5, 46.5), at("Init", 78.3, 46.5),
                                              at("bool", 52.5, 45.76), at("Init", 78.3, 45.76),
                                              at("bool", 52.5, 70.0)};
    const std::vector<PrintedWord> kept = withoutRepaintedWords(painted);
    ASSERT_EQ(kept.size(), 3u);
    EXPECT_EQ(kept[0].text, "bool");
    EXPECT_EQ(kept[1].text, "Init");
    EXPECT_EQ(kept[2].yMin, 70.0);
}
