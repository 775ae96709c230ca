// Lines that a PDF producer laid out right to left itself (LibreOffice, for one) keep their
// letters in visual order, left to right as they stand on the page, while readers of text expect
// the order in which it was typed. ICU's inverse bidirectional reordering turns a visual line
// back into logical order. Pure functions, any thread.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace conversion {

// Whether the code point is a strong right-to-left letter (Hebrew, Arabic, Syriac, Thaana, ...).
bool isStrongRightToLeft(char32_t codePoint);

struct LogicalPosition {
    std::size_t index;      // index into the visual line
    char32_t codePoint = 0; // the code point to read there (a bracket in a right-to-left run is
                            // mirrored back to the one typed)
};

// The code points of a visual line in logical order; empty when ICU fails (the caller then
// keeps the visual order). The paragraph direction is right to left when most strong letters
// are.
std::vector<LogicalPosition> logicalOrderOfVisualLine(const std::u32string& visual);

} // namespace conversion
