#include "PDFPageTextReader.h"

#include "VisualLineOrder.h"

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

// The word's UTF-16 text as code points, leaving out control characters (they have no place
// in RTF or XML) and putting U+FFFD for unpaired surrogates.
void appendWord(std::u32string& out, const poppler::ustring& text) {
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
        out.push_back(cp);
    }
}

// Which way a word's letters run along its line, as far as a right-to-left script tells.
enum class WordOrder { NoRightToLeft, Visual, Logical };

WordOrder orderOf(const poppler::text_box& word, const std::u32string& letters, int rotation) {
    if (std::none_of(letters.begin(), letters.end(), isStrongRightToLeft))
        return WordOrder::NoRightToLeft;
    const size_t glyphs = word.text().size();
    if (glyphs < 2)
        return WordOrder::NoRightToLeft; // one letter shows no direction
    const double first = spanOf(word.char_bbox(0), rotation).alongStart;
    const double last = spanOf(word.char_bbox(glyphs - 1), rotation).alongStart;
    if (first == last)
        return WordOrder::NoRightToLeft;
    // Right-to-left letters stored left to right stand in visual order.
    return first < last ? WordOrder::Visual : WordOrder::Logical;
}

// One letter of a page and the style it is written in.
struct Cell {
    char32_t codePoint;
    size_t style;
};

// A line whose right-to-left words were all stored in visual order is put in logical order.
void finishLine(std::vector<Cell>& cells, size_t lineStart, bool visual, bool logical) {
    if (!visual || logical || lineStart >= cells.size())
        return;
    std::u32string line;
    line.reserve(cells.size() - lineStart);
    for (size_t i = lineStart; i < cells.size(); ++i)
        line.push_back(cells[i].codePoint);
    const std::vector<LogicalPosition> order = logicalOrderOfVisualLine(line);
    if (order.size() != line.size())
        return;
    std::vector<Cell> reordered;
    reordered.reserve(order.size());
    for (const LogicalPosition& at : order)
        reordered.push_back({at.codePoint, cells[lineStart + at.index].style});
    std::copy(reordered.begin(), reordered.end(), cells.begin() + std::ptrdiff_t(lineStart));
}

} // namespace

TextStyle styleFromFontName(const std::string& fontName) {
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
        found = m_styles.emplace(fontName, styleFromFontName(fontName)).first;
    return found->second;
}

StyledText PDFPageTextReader::read(const poppler::page& page) {
    const std::vector<poppler::text_box> words =
        page.text_list(poppler::page::text_list_include_font);
    std::vector<TextStyle> styles;
    std::vector<Cell> cells;
    std::u32string letters;
    size_t lineStart = 0;
    bool lineVisual = false, lineLogical = false;
    WordSpan previousSpan{};
    int previousRotation = 0;
    bool spaceAfterPrevious = false;
    for (const poppler::text_box& word : words) {
        TextStyle style;
        if (word.has_font_info()) {
            style = styleFor(word.get_font_name());
            style.fontSize = word.get_font_size();
        }
        const int rotation = word.rotation();
        const WordSpan span = spanOf(word.bbox(), rotation);
        // The separator goes with the word before, so a line break never starts a new run.
        if (!styles.empty()) {
            const size_t before = styles.size() - 1;
            if (rotation == previousRotation && continuesLine(previousSpan, span)) {
                if (spaceAfterPrevious || separatedByGap(previousSpan, span))
                    cells.push_back({U' ', before});
            } else {
                finishLine(cells, lineStart, lineVisual, lineLogical);
                cells.push_back({U'\n', before});
                lineStart = cells.size();
                lineVisual = lineLogical = false;
            }
        }
        if (styles.empty() || !(styles.back() == style))
            styles.push_back(style);
        letters.clear();
        appendWord(letters, word.text());
        const WordOrder order = orderOf(word, letters, rotation);
        lineVisual |= order == WordOrder::Visual;
        lineLogical |= order == WordOrder::Logical;
        for (const char32_t cp : letters)
            cells.push_back({cp, styles.size() - 1});
        previousSpan = span;
        previousRotation = rotation;
        spaceAfterPrevious = word.has_space_after();
    }
    StyledText text;
    if (styles.empty())
        return text;
    finishLine(cells, lineStart, lineVisual, lineLogical);
    cells.push_back({U'\n', styles.size() - 1});
    std::string run;
    size_t runStyle = cells.front().style;
    for (const Cell& cell : cells) {
        if (cell.style != runStyle) {
            text.append(styles[runStyle], run);
            run.clear();
            runStyle = cell.style;
        }
        appendUTF8(run, cell.codePoint);
    }
    text.append(styles[runStyle], run);
    return text;
}

} // namespace conversion
