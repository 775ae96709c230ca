#include "TextDocumentEncoders.h"

namespace conversion {

std::string encodePlainTextUTF8(const StyledText& text) {
    return text.plainText();
}

std::string encodePlainTextUTF16(const StyledText& text) {
    std::string bytes = "\xFF\xFE";
    size_t length = 0;
    for (const TextRun& run : text.runs())
        length += run.text.size();
    // A UTF-8 byte never gives more than one UTF-16 unit.
    bytes.reserve(2 + 2 * length);
    auto unit = [&bytes](char32_t value) {
        bytes.push_back(char(value & 0xFF));
        bytes.push_back(char((value >> 8) & 0xFF));
    };
    // Run by run: a run holds whole code points, and the text is never copied whole.
    for (const TextRun& run : text.runs())
        ForEachCodePoint(run.text, [&unit](char32_t cp) {
            if (cp >= 0x10000) {
                unit(0xD800 + ((cp - 0x10000) >> 10));
                unit(0xDC00 + ((cp - 0x10000) & 0x3FF));
            } else {
                unit(cp);
            }
        });
    return bytes;
}

} // namespace conversion
