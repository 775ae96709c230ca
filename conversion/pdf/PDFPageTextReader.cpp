#include "PDFPageTextReader.h"

#include "VisualLineOrder.h"

#include "PageFonts.h"

#include <PDFDoc.h>
#include <TextOutputDev.h>
#include <goo/GooString.h>

#include <algorithm>
#include <cctype>
#include <memory>

namespace conversion {

namespace {

bool containsWord(const std::string& lowerName, const char* word) {
    return lowerName.find(word) != std::string::npos;
}

// Position of a word along its line and across it, whatever the text's rotation.
struct WordSpan {
    double alongStart, alongEnd, acrossStart, acrossEnd;
};

// A template, not `const auto&`: the fuzz build compiles this library as C++17.
template <typename Box> WordSpan spanOf(const Box& box, int rotation) {
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
// next word (of another block, on the same visual line) stands apart from it: after a gap, or
// starting back inside it (a block beside a large heading). Within a line it breaks words, and
// marks the space, where letters stand more than a tenth of the font size apart; the same
// measure tells the words of two of its lines apart. (Within one of its lines, words it put
// together without a space, overlapping ones such as the letters of the LaTeX logo among them,
// stay together.)
bool apartFrom(const WordSpan& previous, double previousSize, const WordSpan& word, double size) {
    double limit = 0.1 * std::min(previousSize, size);
    if (!(limit > 0))
        limit = 0.1 * std::min(previous.acrossEnd - previous.acrossStart,
                               word.acrossEnd - word.acrossStart);
    const double gap = word.alongStart - previous.alongEnd;
    return gap > limit || gap < -limit;
}

// Poppler's rectangles keep a corner and the opposite corner as corner plus extent: the same
// sums here give the same coordinates to the last bit.
struct Box {
    double x1, y1, x2, y2;
    double left() const { return x1; }
    double top() const { return y1; }
    double right() const { return x2; }
    double bottom() const { return y2; }
};

Box boxOf(double xMin, double yMin, double xMax, double yMax) {
    return {xMin, yMin, xMin + (xMax - xMin), yMin + (yMax - yMin)};
}

Box wordBox(const TextWord& word) {
    double xMin, yMin, xMax, yMax;
    word.getBBox(&xMin, &yMin, &xMax, &yMax);
    return boxOf(xMin, yMin, xMax, yMax);
}

Box letterBox(const TextWord& word, int i) {
    if (i < 0 || i >= word.getLength())
        return {0, 0, 0, 0};
    double xMin, yMin, xMax, yMax;
    word.getCharBBox(i, &xMin, &yMin, &xMax, &yMax);
    return boxOf(xMin, yMin, xMax, yMax);
}

// The word's letters as code points, leaving out control characters (they have no place in RTF
// or XML). A word's text ends at a NUL or an unpaired surrogate, and code points beyond Unicode
// are dropped, as they always were when the text went through UTF-8 and UTF-16. Answers the
// length of the kept text in UTF-16 units.
size_t appendWord(std::u32string& out, const TextWord& word) {
    size_t units = 0;
    for (int i = 0; i < word.getLength(); ++i) {
        const char32_t cp = *word.getChar(i);
        if (cp == 0 || (cp >= 0xD800 && cp <= 0xDFFF))
            break;
        if (cp > 0x10FFFF)
            continue;
        units += cp >= 0x10000 ? 2 : 1;
        if (cp < 0x20 || cp == 0x7F || (cp >= 0x80 && cp < 0xA0) || cp == 0xFFFE || cp == 0xFFFF)
            continue;
        out.push_back(cp);
    }
    return units;
}

// Which way a word's letters run along its line, as far as a right-to-left script tells.
enum class WordOrder { NoRightToLeft, Visual, Logical };

WordOrder orderOf(const TextWord& word, const std::u32string& letters, size_t units, int rotation) {
    if (std::none_of(letters.begin(), letters.end(), isStrongRightToLeft))
        return WordOrder::NoRightToLeft;
    if (units < 2)
        return WordOrder::NoRightToLeft; // one letter shows no direction
    const double first = spanOf(letterBox(word, 0), rotation).alongStart;
    const double last = spanOf(letterBox(word, int(units - 1)), rotation).alongStart;
    if (first == last)
        return WordOrder::NoRightToLeft;
    // Right-to-left letters stored left to right stand in visual order.
    return first < last ? WordOrder::Visual : WordOrder::Logical;
}

using Cell = PDFPageTextReader::Cell;

// A line whose right-to-left words were all stored in visual order is put in logical order.
void finishLine(std::vector<Cell>& cells, size_t lineStart, bool visual, bool logical,
                std::u32string& line, std::vector<Cell>& reordered) {
    if (!visual || logical || lineStart >= cells.size())
        return;
    line.clear();
    for (size_t i = lineStart; i < cells.size(); ++i)
        line.push_back(cells[i].codePoint);
    const std::vector<LogicalPosition> order = logicalOrderOfVisualLine(line);
    if (order.size() != line.size())
        return;
    reordered.clear();
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

const TextStyle& PDFPageTextReader::fontStyle(const TextFontInfo* font) {
    for (const auto& [known, style] : m_fonts)
        if (known == font)
            return *style;
    // A font the page names goes by its name; any other has none.
    const TextStyle* style = nullptr;
    for (const auto& [num, gen] : m_pageFonts) {
        Ref ref;
        ref.num = num;
        ref.gen = gen;
        if (font->matches(&ref)) {
            const GooString* name = font->getFontName();
            style = &styleFor(name ? name->toStr() : std::string());
            break;
        }
    }
    if (!style)
        style = &styleFor(std::string());
    m_fonts.emplace_back(font, style);
    return *style;
}

std::optional<StyledText> PDFPageTextReader::read(PDFDoc& document, int index) {
    if (index < 0 || index >= document.getNumPages() || !document.getPage(index + 1))
        return std::nullopt;
    TextOutputDev device(nullptr, false, 0, false, false);
    document.displayPageSlice(&device, index + 1, 72, 72, 0, false, false, false, -1, -1, -1, -1);
    const std::unique_ptr<TextWordList> words = device.makeWordList();
    m_cells.clear();
    m_pageStyles.clear();
    m_fonts.clear();
    const int wordCount = words ? words->getLength() : 0;
    if (wordCount > 0)
        fontsOfPage(document, index, m_pageFonts);
    size_t lineStart = 0;
    bool lineVisual = false, lineLogical = false;
    WordSpan previousSpan{};
    int previousRotation = 0;
    bool spaceAfterPrevious = false;
    double previousWordSize = 0;
    bool previousEndedLine = false; // the word before was the last of one of Poppler's lines
    const TextStyle* previousFont = nullptr;
    double previousSize = 0;
    for (int w = 0; w < wordCount; ++w) {
        const TextWord& word = *words->get(w);
        const int rotation = word.getRotation();
        const WordSpan span = spanOf(wordBox(word), rotation);
        // The separator goes with the word before, so a line break never starts a new run.
        if (!m_pageStyles.empty()) {
            const unsigned before = unsigned(m_pageStyles.size() - 1);
            // A word Poppler put on the line of the one before continues it, though it may
            // start back inside it (the raised A of the LaTeX logo).
            if (rotation == previousRotation &&
                (!previousEndedLine || continuesLine(previousSpan, span))) {
                if (spaceAfterPrevious ||
                    (previousEndedLine &&
                     apartFrom(previousSpan, previousWordSize, span, word.getFontSize())))
                    m_cells.push_back({U' ', before});
            } else {
                finishLine(m_cells, lineStart, lineVisual, lineLogical, m_line, m_reordered);
                m_cells.push_back({U'\n', before});
                lineStart = m_cells.size();
                lineVisual = lineLogical = false;
            }
        }
        // A new style only where it differs from the word before's.
        const TextStyle& font = fontStyle(word.getFontInfo(0));
        const double size = word.getFontSize();
        if (m_pageStyles.empty() || &font != previousFont || size != previousSize) {
            const TextStyle& last = m_pageStyles.empty() ? font : m_pageStyles.back();
            if (m_pageStyles.empty() || last.fontFamily != font.fontFamily ||
                last.bold != font.bold || last.italic != font.italic || last.fontSize != size) {
                m_pageStyles.push_back(font);
                m_pageStyles.back().fontSize = size;
            }
            previousFont = &font;
            previousSize = size;
        }
        m_letters.clear();
        const size_t units = appendWord(m_letters, word);
        const WordOrder order = orderOf(word, m_letters, units, rotation);
        lineVisual |= order == WordOrder::Visual;
        lineLogical |= order == WordOrder::Logical;
        const unsigned style = unsigned(m_pageStyles.size() - 1);
        for (const char32_t cp : m_letters)
            m_cells.push_back({cp, style});
        previousSpan = span;
        previousRotation = rotation;
        spaceAfterPrevious = word.hasSpaceAfter();
        previousWordSize = word.getFontSize();
        previousEndedLine = w + 1 >= wordCount || word.nextWord() != words->get(w + 1);
    }
    StyledText text;
    if (m_pageStyles.empty())
        return text;
    finishLine(m_cells, lineStart, lineVisual, lineLogical, m_line, m_reordered);
    m_cells.push_back({U'\n', unsigned(m_pageStyles.size() - 1)});
    m_run.clear();
    unsigned runStyle = m_cells.front().style;
    for (const Cell& cell : m_cells) {
        if (cell.style != runStyle) {
            text.append(m_pageStyles[runStyle], m_run);
            m_run.clear();
            runStyle = cell.style;
        }
        appendUTF8(m_run, cell.codePoint);
    }
    text.append(m_pageStyles[runStyle], m_run);
    return text;
}

} // namespace conversion
