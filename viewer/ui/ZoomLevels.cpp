#include "ZoomLevels.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace {

constexpr std::array kLevels{0.25, 0.33, 0.5,  0.67, 0.75, 0.8, 0.9, 1.0, 1.1,
                             1.25, 1.5,  1.75, 2.0,  2.5,  3.0, 4.0, 5.0};
// Factors read back from the engine are not exact; within this they count as the level.
constexpr double kTolerance = 0.001;

} // namespace

double ZoomLevels::sanitized(double factor) {
    if (!(factor > 0.0) || std::isnan(factor))
        return 1.0;
    return std::clamp(factor, kMinimum, kMaximum);
}

double ZoomLevels::larger(double factor) {
    const double current = sanitized(factor);
    for (double level : kLevels) {
        if (level > current + kTolerance)
            return level;
    }
    return kMaximum;
}

double ZoomLevels::smaller(double factor) {
    const double current = sanitized(factor);
    for (auto it = kLevels.rbegin(); it != kLevels.rend(); ++it) {
        if (*it < current - kTolerance)
            return *it;
    }
    return kMinimum;
}

bool ZoomLevels::canMakeLarger(double factor) {
    return sanitized(factor) < kMaximum - kTolerance;
}

bool ZoomLevels::canMakeSmaller(double factor) {
    return sanitized(factor) > kMinimum + kTolerance;
}
