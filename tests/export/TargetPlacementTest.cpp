// Where one HTML page's targets land on its printed pages, on words laid out as the text engine
// reports them (painting order): the cases a small print cannot pin down on its own.
#include "AnchorOccurrenceMatcher.h"
#include "PrintedTargetPlacer.h"

#include <gtest/gtest.h>

namespace {

// Words on lines 20 points apart from y, each line's words left to right.
std::vector<PrintedWord> lines(std::initializer_list<std::initializer_list<const char*>> rows,
                               double y = 100) {
    std::vector<PrintedWord> words;
    for (const auto& row : rows) {
        double x = 40;
        for (const char* text : row) {
            words.push_back({text, x, y});
            x += 60;
        }
        y += 20;
    }
    return words;
}

PreparedPrint::Page page(std::vector<PrintedWord> words) {
    return {QPDFPageObjectHelper(QPDFObjectHandle::newDictionary()), std::move(words),
            QPDFObjectHandle::Rectangle(0, 0, 600, 800), false};
}

} // namespace

// Overloads under one name, their headings floated: painted before the text between them.
TEST(AnchorOccurrences, SameTextTakesThePrintedPlaceOfTheSameRankInReadingOrder) {
    const QByteArray text = "Size ( ) [1/3] first body Size ( ) [2/3] second body "
                            "Size ( ) [3/3] third body";
    const std::vector<PrintedWord> first = lines({{"first", "body"}, {"second", "body"}}, 140);
    const std::vector<PrintedWord> headings =
        lines({{"Size", "(", ")", "[1/3]"}, {"Size", "(", ")", "[2/3]"}});
    std::vector<PrintedWord> onePage = headings;
    onePage.insert(onePage.end(), first.begin(), first.end());
    const std::vector<PrintedWord> second = lines({{"Size", "(", ")", "[3/3]"}, {"third", "body"}});
    AnchorOccurrenceMatcher matcher(text, {&onePage, &second});
    const auto one = matcher.place(0, QStringLiteral("Size() [1/3]"));
    const auto two = matcher.place(text.indexOf("Size ( ) [2"), QStringLiteral("Size() [2/3]"));
    const auto three = matcher.place(text.indexOf("Size ( ) [3"), QStringLiteral("Size()[3/3]"));
    ASSERT_TRUE(one && two && three);
    EXPECT_EQ(one->printedPage, 0);
    EXPECT_DOUBLE_EQ(one->y, 98);
    EXPECT_EQ(two->printedPage, 0);
    EXPECT_DOUBLE_EQ(two->y, 118);
    EXPECT_EQ(three->printedPage, 1);
    EXPECT_DOUBLE_EQ(three->y, 98);

    // Only the name: three in the text and three printed, by rank again.
    const auto name = matcher.place(text.indexOf("Size ( ) [2"), QStringLiteral("Size"));
    ASSERT_TRUE(name);
    EXPECT_DOUBLE_EQ(name->y, 118);
}

TEST(AnchorOccurrences, TextThatDoesNotTellLeavesTheTargetToTheWalk) {
    const QByteArray text = "Parameters one Parameters two hidden Parameters";
    const std::vector<PrintedWord> printed = lines({{"Parameters", "one"}, {"Parameters", "two"}});
    AnchorOccurrenceMatcher matcher(text, {&printed});
    // Three in the text, two printed.
    EXPECT_FALSE(matcher.place(0, QStringLiteral("Parameters")));
    // The own text is not what stands at the target's offset.
    EXPECT_FALSE(matcher.place(0, QStringLiteral("two")));
    EXPECT_FALSE(matcher.place(0, QString()));
    // White space of any kind is no difference.
    const auto two = matcher.place(text.indexOf("two"), QStringLiteral("t\u00A0w o"));
    ASSERT_TRUE(two);
    EXPECT_DOUBLE_EQ(two->x, 100);
}

// The first words reported are a float further down; the page's title is its first line.
TEST(PrintedTargetPlacer, PageItselfAndWhatNothingPrecedesLandAtTheTopOfTheFirstKeptPage) {
    const QByteArray text = "  Title line Body text Object lists";
    std::vector<PrintedWord> words = lines({{"Object", "lists"}}, 300);
    const std::vector<PrintedWord> rest = lines({{"Title", "line"}, {"Body", "text"}});
    words.insert(words.end(), rest.begin(), rest.end());
    const PreparedPrint::Page printed = page(words);
    PrintedTargetPlacer placer(text, {{0, QString()}, {1, QString()}}, {&printed});
    const std::vector<PrintedTargetPlacer::Placement> placed = placer.placeOnPage(0, 7);
    ASSERT_EQ(placed.size(), 2u);
    for (const PrintedTargetPlacer::Placement& p : placed) {
        EXPECT_EQ(p.outputPage, 7);
        EXPECT_DOUBLE_EQ(p.where.y, 800);
    }
}

// No white space between the last words of one printed page and the target's text, and no own
// text to find it by: the walk ends exactly where the target starts.
TEST(PrintedTargetPlacer, TargetWhoseTextStartsAPrintedPageLandsOnThatPage) {
    const QByteArray text = "Last words.Part heading here Part body. ";
    const PreparedPrint::Page one = page(lines({{"Last", "words."}}));
    const PreparedPrint::Page two = page(lines({{"Part", "heading", "here"}, {"Part", "body."}}));
    const quint64 part = static_cast<quint64>(text.indexOf("Part"));
    const quint64 end = static_cast<quint64>(text.size());
    PrintedTargetPlacer placer(text, {{0, QString()}, {part, QString()}, {end, QString()}},
                               {&one, &two});
    const std::vector<PrintedTargetPlacer::Placement> onFirst = placer.placeOnPage(0, 0);
    ASSERT_EQ(onFirst.size(), 1u);
    EXPECT_EQ(onFirst[0].target, 0u);
    const std::vector<PrintedTargetPlacer::Placement> onSecond = placer.placeOnPage(1, 1);
    ASSERT_EQ(onSecond.size(), 1u);
    EXPECT_EQ(onSecond[0].target, 1u);
    EXPECT_EQ(onSecond[0].outputPage, 1);
    EXPECT_DOUBLE_EQ(onSecond[0].where.y, 800 - 98);
    // Nothing printed after it: the last kept page.
    const std::vector<PrintedTargetPlacer::Placement> last = placer.finish();
    ASSERT_EQ(last.size(), 1u);
    EXPECT_EQ(last[0].target, 2u);
    EXPECT_EQ(last[0].outputPage, 1);
}
