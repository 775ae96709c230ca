#include "PDFPageTextReader.h"

#include <algorithm>
#include <cctype>
#include <poppler-page.h>

namespace conversion {

namespace {

bool containsWord(const std::string& lowerName, const char* word) {
    return lowerName.find(word) != std::string::npos;
}

// Position of a word along its line and across it, whatever the text's rotation.
struct WordSpan {
    double alongStart, alongEnd, acrossStart, acrossEnd;
};

WordSpan spanOf(const poppler::rectf& box, int rotation) {
    switch (rotation) {
    case 1:
        return {box.top(), box.bottom(), -box.right(), -box.left()};
    case 2:
        return {-box.right(), -box.left(), -box.bottom(), -box.top()};
    case 3:
        return {-box.bottom(), -box.top(), box.left(), box.right()};
    default:
        return {box.left(), box.right(), box.top(), box.bottom()};
    }
}

// A word continues the line of the one before when it lies to its right and their heights
// overlap by at least half the smaller one.
bool continuesLine(const WordSpan& previous, const WordSpan& word) {
    const double overlap = std::min(previous.acrossEnd, word.acrossEnd) -
                           std::max(previous.acrossStart, word.acrossStart);
    const double smaller =
        std::min(previous.acrossEnd - previous.acrossStart, word.acrossEnd - word.acrossStart);
    if (overlap < 0.5 * smaller)
        return false;
    const double slack = 0.5 * smaller;
    return word.alongStart >= previous.alongEnd - slack ||
           word.alongStart >= previous.alongStart + slack;
}

// The layout analysis marks no space after the last word of one of its lines, even when the
// next word (of another block, on the same visual line) stands well apart.
bool separatedByGap(const WordSpan& previous, const WordSpan& word) {
    const double height =
        std::min(previous.acrossEnd - previous.acrossStart, word.acrossEnd - word.acrossStart);
    return word.alongStart - previous.alongEnd > 0.3 * height;
}

// Appends the word's UTF-16 text as UTF-8, leaving out control characters (they have no place
// in RTF or XML) and putting U+FFFD for unpaired surrogates.
void appendWord(std::string& out, const poppler::ustring& text) {
    const size_t n = text.size();
    for (size_t i = 0; i < n; ++i) {
        char32_t cp = text[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < n && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            cp = 0xFFFD;
        }
        if (cp < 0x20 || cp == 0x7F || (cp >= 0x80 && cp < 0xA0) || cp == 0xFFFE || cp == 0xFFFF)
            continue;
        AppendUTF8(out, cp);
    }
}

} // namespace

TextStyle StyleFromFontName(const std::string& fontName) {
    std::string name = fontName;
    // A subset font's name starts with six capitals and '+'.
    if (name.size() > 7 && name[6] == '+' &&
        std::all_of(name.begin(), name.begin() + 6, [](char c) { return c >= 'A' && c <= 'Z'; }))
        name.erase(0, 7);
    TextStyle style;
    if (!std::all_of(name.begin(), name.end(), [](char c) { return c > 0x20 && c < 0x7F; }))
        return style;
    std::string lower = name;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    style.bold = containsWord(lower, "bold") || containsWord(lower, "black") ||
                 containsWord(lower, "heavy") || containsWord(lower, "demi");
    style.italic = containsWord(lower, "italic") || containsWord(lower, "oblique");
    // "Times-Roman", "Arial,Bold", "TimesNewRomanPS-BoldMT": the family comes first.
    const size_t cut = name.find_first_of("-,");
    style.fontFamily = name.substr(0, cut);
    return style;
}

const TextStyle& PDFPageTextReader::styleFor(const std::string& fontName) {
    auto found = m_styles.find(fontName);
    if (found == m_styles.end())
        found = m_styles.emplace(fontName, StyleFromFontName(fontName)).first;
    return found->second;
}

StyledText PDFPageTextReader::read(const poppler::page& page) {
    StyledText text;
    const std::vector<poppler::text_box> words =
        page.text_list(poppler::page::text_list_include_font);
    std::string chunk;
    TextStyle chunkStyle;
    bool haveChunk = false;
    WordSpan previousSpan{};
    int previousRotation = 0;
    bool spaceAfterPrevious = false;
    bool first = true;
    for (const poppler::text_box& word : words) {
        TextStyle style;
        if (word.has_font_info()) {
            style = styleFor(word.get_font_name());
            style.fontSize = word.get_font_size();
        }
        const int rotation = word.rotation();
        const WordSpan span = spanOf(word.bbox(), rotation);
        std::string separator;
        if (!first) {
            if (rotation == previousRotation && continuesLine(previousSpan, span))
                separator = spaceAfterPrevious || separatedByGap(previousSpan, span) ? " " : "";
            else
                separator = "\n";
        }
        // The separator goes with the word before, so a line break never starts a new run.
        chunk += separator;
        if (!haveChunk || !(style == chunkStyle)) {
            if (haveChunk)
                text.append(chunkStyle, chunk);
            chunk.clear();
            chunkStyle = style;
            haveChunk = true;
        }
        appendWord(chunk, word.text());
        previousSpan = span;
        previousRotation = rotation;
        spaceAfterPrevious = word.has_space_after();
        first = false;
    }
    if (haveChunk) {
        chunk += '\n';
        text.append(chunkStyle, chunk);
    }
    return text;
}

} // namespace conversion
