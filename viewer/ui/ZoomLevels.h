// The text sizes a web view steps through with Zoom In and Zoom Out.
//
// Factors run from kMinimum (0.25) to kMaximum (5.0), the range the web engine accepts. Each
// step goes to the next level of a fixed list, so repeated zooming always comes back to 1.0;
// a factor between two levels (one restored from the preferences) steps to the nearer
// neighbour in the chosen direction. Pure functions, any thread.
#pragma once

class ZoomLevels {
public:
    static constexpr double kMinimum = 0.25;
    static constexpr double kMaximum = 5.0;

    // The next level above (below) factor; factor itself, clamped to the range, at the end.
    static double larger(double factor);
    static double smaller(double factor);
    static bool canMakeLarger(double factor);
    static bool canMakeSmaller(double factor);
    // A factor the engine accepts: clamped to the range; 1.0 for 0, negatives and NaN.
    static double sanitized(double factor);
};
