// Reads the text of one PDF page with its styles through Poppler's text engine (the same layout
// analysis as pdftotext, so the words come in its reading order). Words on one line are joined by
// a space where the PDF has one; every line ends with '\n'. Not thread-safe: one reader per
// thread; it caches the styles of the font names it met and keeps its buffers from page to page,
// so that reading a page costs allocations per style change, not per letter.
#pragma once

#include "StyledText.h"

#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

class PDFDoc;
class TextFontInfo;

namespace conversion {

// The family, weight and slant that a PDF font name spells, e.g. "ABCDEF+DejaVuSans-BoldOblique"
// gives DejaVuSans, bold, italic. Names of other encodings than ASCII give no family.
TextStyle styleFromFontName(const std::string& fontName);

class PDFPageTextReader {
public:
    // The text of page `index` (0-based) of `document`, which the caller made after
    // lumeno::ensurePopplerGlobals(); nullopt when the document has no such page.
    std::optional<StyledText> read(PDFDoc& document, int index);

    // One letter of a page and the style it is written in (an index into the page's styles).
    struct Cell {
        char32_t codePoint;
        unsigned style;
    };

private:
    const TextStyle& styleFor(const std::string& fontName);
    // The style of the words written in `font`: remembered for the page, so each font is
    // looked up once.
    const TextStyle& fontStyle(const TextFontInfo* font);

    std::unordered_map<std::string, TextStyle> m_styles;
    // Per page, kept for their capacity.
    std::vector<Cell> m_cells;
    std::vector<TextStyle> m_pageStyles;
    std::vector<std::pair<const TextFontInfo*, const TextStyle*>> m_fonts;
    std::vector<std::pair<int, int>> m_pageFonts; // object number and generation
    std::u32string m_letters;
    std::u32string m_line;
    std::vector<Cell> m_reordered;
    std::string m_run;
};

} // namespace conversion
