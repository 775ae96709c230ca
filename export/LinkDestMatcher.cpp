#include "LinkDestMatcher.h"

#include <algorithm>
#include <cstring>
#include <string_view>

namespace {

// How far ahead a word that did not match twice is looked for before the matcher gives up.
constexpr int kRealignWindow = 99;

bool textBeginsWith(const char* text, int pos, int length, const std::string& word) {
    if (pos < 0 || pos > length)
        return false;
    const std::size_t left = static_cast<std::size_t>(length - pos);
    return word.size() <= left && std::memcmp(text + pos, word.data(), word.size()) == 0;
}

} // namespace

void skipTextWhitespace(const char* text, int* pos, int length) {
    while (*pos >= 0 && *pos < length) {
        const auto c = static_cast<unsigned char>(text[*pos]);
        if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
            ++*pos;
        } else if (c == 0xC2 && *pos + 1 < length &&
                   static_cast<unsigned char>(text[*pos + 1]) == 0xA0) {
            *pos += 2;
        } else {
            break;
        }
    }
}

int findLinkDestinations(const std::vector<PrintedWord>& words, const char* text, int* textPos,
                         int textLength, LinkDestLocation* records, int recordCount,
                         int* recordIndex) {
    if (recordCount <= 0 || *recordIndex >= recordCount || *recordIndex < 0)
        return 0;
    if (!text)
        textLength = 0;
    bool retry = false;
    for (const PrintedWord& word : words) {
        skipTextWhitespace(text, textPos, textLength);
        const std::string& s = word.text;
        LinkDestLocation& record = records[*recordIndex];
        if (record.charIndex <= static_cast<uint32_t>(std::max(*textPos, 0))) {
            record.x = word.xMin;
            record.y = word.yMin - 2.0;
            record.found = 1;
            if (++*recordIndex >= recordCount)
                return 0;
        }
        if (!textBeginsWith(text, *textPos, textLength, s)) {
            if (!retry) {
                retry = true;
                continue;
            }
            if (*textPos < textLength && !s.empty()) {
                const std::string_view rest(text + *textPos,
                                            static_cast<std::size_t>(textLength - *textPos));
                const std::size_t at = rest.find(s);
                if (at != std::string_view::npos && at <= kRealignWindow) {
                    *textPos += static_cast<int>(at);
                    skipTextWhitespace(text, textPos, textLength);
                    if (!textBeginsWith(text, *textPos, textLength, s))
                        return 1;
                }
            }
        }
        *textPos += static_cast<int>(s.size());
        retry = false;
    }
    return 0;
}
