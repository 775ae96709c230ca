// Reads the text of one PDF page with its styles through poppler-cpp's word list (the same
// layout analysis as pdftotext, so the words come in its reading order). Words on one line are
// joined by a space where the PDF has one; every line ends with '\n'. Not thread-safe: one reader
// per thread; it caches the styles of the font names it met.
#pragma once

#include "StyledText.h"

#include <string>
#include <unordered_map>

namespace poppler {
class page;
}

namespace conversion {

// The family, weight and slant that a PDF font name spells, e.g. "ABCDEF+DejaVuSans-BoldOblique"
// gives DejaVuSans, bold, italic. Names of other encodings than ASCII give no family.
TextStyle styleFromFontName(const std::string& fontName);

class PDFPageTextReader {
public:
    StyledText read(const poppler::page& page);

private:
    const TextStyle& styleFor(const std::string& fontName);
    std::unordered_map<std::string, TextStyle> m_styles;
};

} // namespace conversion
