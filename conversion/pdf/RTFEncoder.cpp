#include "TextDocumentEncoders.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <map>

namespace conversion {

namespace {

constexpr const char* kDefaultFont = "Helvetica";
constexpr int kDefaultHalfPoints = 24;

// RTF sizes are in half points, within what readers accept.
int halfPoints(double points) {
    if (!(points > 0))
        return kDefaultHalfPoints;
    return int(std::lround(std::clamp(points, 1.0, 1600.0) * 2));
}

void appendEscaped(std::string& out, std::string_view text) {
    for (char32_t cp : DecodeUTF8(text)) {
        switch (cp) {
        case '\\':
            out += "\\\\";
            break;
        case '{':
            out += "\\{";
            break;
        case '}':
            out += "\\}";
            break;
        case '\n':
            out += "\\par\n";
            break;
        case '\t':
            out += "\\tab ";
            break;
        default:
            if (cp < 0x80) {
                out.push_back(char(cp));
            } else {
                // \u takes a signed 16-bit value; characters beyond it go as surrogate pairs. The
                // fallback for old readers is an escaped '?': a bare one after the number trips
                // some readers into dropping the rest of the word.
                auto escape = [&out](unsigned value) {
                    out += "\\u" + std::to_string(int(int16_t(uint16_t(value)))) + "\\'3f";
                };
                if (cp >= 0x10000) {
                    escape(0xD800 + ((cp - 0x10000) >> 10));
                    escape(0xDC00 + ((cp - 0x10000) & 0x3FF));
                } else {
                    escape(cp);
                }
            }
        }
    }
}

// Font names end at ';' in the font table, so that character cannot be part of one.
std::string fontTableName(const std::string& family) {
    std::string name;
    for (char c : family)
        if (c != ';' && c != '{' && c != '}' && c != '\\')
            name.push_back(c);
    return name.empty() ? kDefaultFont : name;
}

} // namespace

std::string encodeRTF(const StyledText& text) {
    std::map<std::string, int> fontNumbers{{kDefaultFont, 0}};
    std::string fontTable = "{\\fonttbl{\\f0\\fnil " + std::string(kDefaultFont) + ";}";
    for (const TextRun& run : text.runs()) {
        const std::string name = fontTableName(run.style.fontFamily);
        if (fontNumbers.emplace(name, int(fontNumbers.size())).second)
            fontTable += "{\\f" + std::to_string(fontNumbers[name]) + "\\fnil " + name + ";}";
    }
    fontTable += "}\n";

    std::string out = "{\\rtf1\\ansi\\ansicpg1252\\deff0\\uc1\n" + fontTable;
    out += "\\pard\\plain\n";
    for (const TextRun& run : text.runs()) {
        out += "{\\f" + std::to_string(fontNumbers[fontTableName(run.style.fontFamily)]);
        out += "\\fs" + std::to_string(halfPoints(run.style.fontSize));
        if (run.style.bold)
            out += "\\b";
        if (run.style.italic)
            out += "\\i";
        out += ' ';
        appendEscaped(out, run.text);
        out += "}";
    }
    out += "}\n";
    return out;
}

} // namespace conversion
