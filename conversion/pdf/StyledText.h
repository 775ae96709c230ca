// Text with its character styles, as read from PDF pages and handed to the document writers: a
// sequence of runs, each UTF-8 text (lines end with '\n') in one font family, size, weight and
// slant. Valid UTF-8 without control characters other than '\n' and '\t'.
#pragma once

#include <string>
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

// Decodes UTF-8, one code point at a time; invalid sequences come out as U+FFFD.
std::u32string DecodeUTF8(std::string_view text);
void appendUTF8(std::string& out, char32_t codePoint);

} // namespace conversion
