#include "TextDocumentEncoders.h"

namespace conversion {

std::string encodePlainTextUTF8(const StyledText& text) {
    return text.plainText();
}

std::string encodePlainTextUTF16(const StyledText& text) {
    std::string bytes = "\xFF\xFE";
    const std::u32string codePoints = DecodeUTF8(text.plainText());
    bytes.reserve(2 + 2 * codePoints.size());
    auto unit = [&bytes](char32_t value) {
        bytes.push_back(char(value & 0xFF));
        bytes.push_back(char((value >> 8) & 0xFF));
    };
    for (char32_t cp : codePoints) {
        if (cp >= 0x10000) {
            unit(0xD800 + ((cp - 0x10000) >> 10));
            unit(0xDC00 + ((cp - 0x10000) & 0x3FF));
        } else {
            unit(cp);
        }
    }
    return bytes;
}

} // namespace conversion
