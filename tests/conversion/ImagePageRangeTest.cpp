// Which pages a page conversion handles for each range mode, as a table.
#include "ImageConversionJob.h"

#include <gtest/gtest.h>

using conversion::PagesToProcess;

TEST(ImagePageRange, RangesAreClippedToTheDocument) {
    struct Case {
        std::int32_t mode;
        std::int64_t first, last, pages;
        bool reported;
        std::int64_t from, to; // to < from: nothing
    } cases[] = {
        // mode 2: from `first` to `last`, an end outside the document meaning its last page
        {2, 3, 0, 10, true, 3, 10},
        {2, 3, 25, 10, true, 3, 10},
        {2, 3, 7, 10, true, 3, 7},
        {2, 10, 10, 10, true, 10, 10},
        {2, 11, 12, 10, false, 0, 0},
        {2, 0, 5, 10, false, 0, 0},
        {2, -4, 5, 10, false, 0, 0},
        {2, 7, 3, 10, true, 7, 3}, // end before start: nothing, reported true
        // mode 1: the single page
        {1, 0, 0, 10, false, 0, 0},
        {1, 1, 99, 10, true, 1, 1},
        {1, 10, 0, 10, true, 10, 10},
        {1, 11, 11, 10, false, 0, 0},
        // every other mode: all pages, whatever the page fields say
        {0, -5, -9, 10, true, 1, 10},
        {0, 50, 60, 10, true, 1, 10},
        {7, 3, 4, 10, true, 1, 10},
        {-1, 3, 4, 10, true, 1, 10},
        {0, 1, 1, 0, true, 1, 0}, // no pages: nothing, reported true
        {1, 1, 1, 0, false, 0, 0},
    };
    for (const Case& c : cases) {
        std::int64_t from = 0, to = 0;
        const bool reported = PagesToProcess(c.mode, c.first, c.last, c.pages, &from, &to);
        SCOPED_TRACE(testing::Message() << "mode " << c.mode << " first " << c.first << " last "
                                        << c.last << " of " << c.pages);
        EXPECT_EQ(reported, c.reported);
        if (c.reported) {
            EXPECT_EQ(from, c.from);
            EXPECT_EQ(to, c.to);
        }
    }
}
