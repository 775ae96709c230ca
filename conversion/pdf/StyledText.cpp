#include "StyledText.h"

namespace conversion {

void StyledText::append(const TextStyle& style, std::string_view text) {
    if (text.empty())
        return;
    if (!m_runs.empty() && m_runs.back().style == style)
        m_runs.back().text.append(text);
    else
        m_runs.push_back(TextRun{style, std::string(text)});
}

void StyledText::append(const StyledText& other) {
    for (const TextRun& run : other.m_runs)
        append(run.style, run.text);
}

std::string StyledText::plainText() const {
    std::string text;
    for (const TextRun& run : m_runs)
        text += run.text;
    return text;
}

std::u32string DecodeUTF8(std::string_view text) {
    std::u32string out;
    out.reserve(text.size());
    ForEachCodePoint(text, [&out](char32_t cp) { out.push_back(cp); });
    return out;
}

void appendUTF8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out.push_back(char(cp));
    } else if (cp < 0x800) {
        out.push_back(char(0xC0 | (cp >> 6)));
        out.push_back(char(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(char(0xE0 | (cp >> 12)));
        out.push_back(char(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(char(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(char(0xF0 | (cp >> 18)));
        out.push_back(char(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(char(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(char(0x80 | (cp & 0x3F)));
    }
}

} // namespace conversion
