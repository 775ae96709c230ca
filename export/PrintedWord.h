// One word of a printed page as the text engine reports it, in content order: its text in UTF-8
// and its top-left corner in points, y growing downward from the top of the page.
#pragma once

#include <string>

struct PrintedWord {
    std::string text;
    double xMin = 0.0;
    double yMin = 0.0;
};
