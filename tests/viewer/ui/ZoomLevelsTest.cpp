// The text-size steps of Zoom In and Zoom Out.
#include "ZoomLevels.h"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>

TEST(ZoomLevels, StepsReturnToTheNormalSizeStopAtTheEngineLimitsAndSnapBetweenLevels) {
    double factor = 1.0;
    for (int i = 0; i < 3; ++i)
        factor = ZoomLevels::larger(factor);
    EXPECT_DOUBLE_EQ(factor, 1.5);
    for (int i = 0; i < 3; ++i)
        factor = ZoomLevels::smaller(factor);
    EXPECT_DOUBLE_EQ(factor, 1.0);
    EXPECT_DOUBLE_EQ(ZoomLevels::larger(5.0), 5.0);
    EXPECT_DOUBLE_EQ(ZoomLevels::smaller(0.25), 0.25);
    EXPECT_FALSE(ZoomLevels::canMakeLarger(5.0) || ZoomLevels::canMakeSmaller(0.25));
    EXPECT_TRUE(ZoomLevels::canMakeLarger(4.99) && ZoomLevels::canMakeSmaller(0.26));
    EXPECT_DOUBLE_EQ(ZoomLevels::larger(1.05), 1.1);
    EXPECT_DOUBLE_EQ(ZoomLevels::smaller(1.05), 1.0);
    // The engine reads factors back with rounding noise.
    EXPECT_DOUBLE_EQ(ZoomLevels::larger(1.0999999), 1.25);
}

TEST(ZoomLevels, StoredNonsenseBecomesAUsableFactor) {
    const double inf = std::numeric_limits<double>::infinity();
    for (auto [stored, usable] :
         {std::pair{0.0, 1.0}, {-3.0, 1.0}, {NAN, 1.0}, {1e9, 5.0}, {0.01, 0.25}, {inf, 5.0}})
        EXPECT_DOUBLE_EQ(ZoomLevels::sanitized(stored), usable) << stored;
}
