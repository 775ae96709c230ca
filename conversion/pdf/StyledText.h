// Text with its character styles, as read from PDF pages and handed to the document writers: a
// sequence of runs, each UTF-8 text (lines end with '\n') in one font family, size, weight and
// slant. Valid UTF-8 without control characters other than '\n' and '\t'.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace conversion {

struct TextStyle {
    std::string fontFamily; // empty: the writer's default
    double fontSize = 0;    // points; 0: the writer's default
    bool bold = false;
    bool italic = false;

    bool operator==(const TextStyle&) const = default;
};

struct TextRun {
    TextStyle style;
    std::string text;
};

class StyledText {
public:
    // Appends text in a style; joins it to the last run when the style is the same.
    void append(const TextStyle& style, std::string_view text);
    void append(const StyledText& other);

    const std::vector<TextRun>& runs() const { return m_runs; }
    std::string plainText() const;
    bool empty() const { return m_runs.empty(); }

private:
    std::vector<TextRun> m_runs;
};

// Calls `visit` with each code point of the UTF-8 text in turn; invalid sequences come out as
// U+FFFD.
template <typename Visit> void ForEachCodePoint(std::string_view text, Visit&& visit) {
    size_t i = 0;
    const size_t n = text.size();
    while (i < n) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        int extra = 0;
        char32_t cp = 0;
        char32_t minimum = 0;
        if (c < 0x80) {
            visit(char32_t(c));
            ++i;
            continue;
        } else if ((c & 0xE0) == 0xC0) {
            extra = 1, cp = c & 0x1F, minimum = 0x80;
        } else if ((c & 0xF0) == 0xE0) {
            extra = 2, cp = c & 0x0F, minimum = 0x800;
        } else if ((c & 0xF8) == 0xF0) {
            extra = 3, cp = c & 0x07, minimum = 0x10000;
        } else {
            visit(char32_t(0xFFFD));
            ++i;
            continue;
        }
        size_t j = i + 1;
        bool valid = true;
        for (int k = 0; k < extra; ++k, ++j) {
            if (j >= n || (static_cast<unsigned char>(text[j]) & 0xC0) != 0x80) {
                valid = false;
                break;
            }
            cp = (cp << 6) | (static_cast<unsigned char>(text[j]) & 0x3F);
        }
        if (!valid || cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
            visit(char32_t(0xFFFD));
            i = valid ? j : i + 1;
            continue;
        }
        visit(cp);
        i = j;
    }
}

// Decodes UTF-8, one code point at a time; invalid sequences come out as U+FFFD.
std::u32string DecodeUTF8(std::string_view text);
void appendUTF8(std::string& out, char32_t codePoint);

} // namespace conversion
