#include "TypedCharacters.h"

#include "GlyphsBeyondTheBMP.h"

#include <qpdf/Buffer.hh>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFObjectHandle.hh>

#include <unicode/normalizer2.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>

#include <algorithm>
#include <cctype>
#include <map>
#include <set>

namespace conversion {

namespace {

bool isRadicalOrCompatibilityIdeograph(char32_t c) {
    return (c >= 0x2E80 && c <= 0x2FDF) || (c >= 0xF900 && c <= 0xFAFF) ||
           (c >= 0x2F800 && c <= 0x2FA1F);
}

bool isLigature(char32_t c) {
    return (c >= 0xFB00 && c <= 0xFB06) || (c >= 0xFB13 && c <= 0xFB17);
}

// The compatibility form (NFKC) of `c`; empty when ICU cannot give it.
std::u32string compatibilityForm(char32_t c) {
    UErrorCode status = U_ZERO_ERROR;
    const icu::Normalizer2* nfkc = icu::Normalizer2::getNFKCInstance(status);
    if (U_FAILURE(status) || !nfkc)
        return {};
    const icu::UnicodeString normal = nfkc->normalize(icu::UnicodeString(UChar32(c)), status);
    if (U_FAILURE(status))
        return {};
    std::u32string form;
    for (int32_t i = 0; i < normal.length(); i = normal.moveIndex32(i, 1))
        form.push_back(char32_t(normal.char32At(i)));
    return form;
}

// What a glyph named `c` is likelier to stand for: the space for the tab, the unified ideograph
// for a radical or compatibility ideograph, the letters for a ligature; empty for none.
std::u32string likelierText(char32_t c) {
    if (c == U'\t')
        return U" ";
    if (isRadicalOrCompatibilityIdeograph(c)) {
        const std::u32string form = compatibilityForm(c);
        if (form.size() == 1 && form[0] != c &&
            u_hasBinaryProperty(UChar32(form[0]), UCHAR_UNIFIED_IDEOGRAPH))
            return form;
    } else if (isLigature(c)) {
        const std::u32string form = compatibilityForm(c);
        if (form.size() > 1)
            return form;
    }
    return {};
}

using Code = std::string; // the source code's hex digits, upper case, as wide as in the map

struct ToUnicodeMap {
    std::string head; // up to the first mapping section
    std::string tail; // after the last one
    std::map<Code, std::u32string> entries;
};

// Tokens of a CMap's mapping sections: <hex>, [, ], and words (numbers, operators).
class Tokens {
public:
    explicit Tokens(const std::string& text) : m_text(text) {}
    bool next(std::string& token) {
        while (m_at < m_text.size() && std::isspace(static_cast<unsigned char>(m_text[m_at])))
            ++m_at;
        if (m_at >= m_text.size())
            return false;
        const std::size_t start = m_at;
        const char c = m_text[m_at];
        if (c == '<') {
            const std::size_t end = m_text.find('>', m_at);
            if (end == std::string::npos)
                return false;
            m_at = end + 1;
        } else if (c == '[' || c == ']') {
            ++m_at;
        } else {
            while (m_at < m_text.size() &&
                   !std::isspace(static_cast<unsigned char>(m_text[m_at])) && m_text[m_at] != '<' &&
                   m_text[m_at] != '[' && m_text[m_at] != ']')
                ++m_at;
        }
        token = m_text.substr(start, m_at - start);
        return true;
    }

private:
    const std::string& m_text;
    std::size_t m_at = 0;
};

bool hexDigits(const std::string& token, std::string& digits) {
    if (token.size() < 2 || token.front() != '<' || token.back() != '>')
        return false;
    digits.clear();
    for (char c : token.substr(1, token.size() - 2)) {
        if (std::isspace(static_cast<unsigned char>(c)))
            continue;
        if (!std::isxdigit(static_cast<unsigned char>(c)))
            return false;
        digits.push_back(char(std::toupper(static_cast<unsigned char>(c))));
    }
    return !digits.empty() && digits.size() % 2 == 0;
}

bool utf16Units(const std::string& digits, std::u16string& units) {
    if (digits.size() % 4 != 0)
        return false;
    units.clear();
    for (std::size_t i = 0; i < digits.size(); i += 4)
        units.push_back(char16_t(std::stoul(digits.substr(i, 4), nullptr, 16)));
    return true;
}

std::u32string decodeUTF16(const std::u16string& units) {
    std::u32string out;
    for (std::size_t i = 0; i < units.size(); ++i) {
        const char16_t u = units[i];
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units.size() && units[i + 1] >= 0xDC00 &&
            units[i + 1] <= 0xDFFF) {
            out.push_back(0x10000 + ((char32_t(u) - 0xD800) << 10) + (units[i + 1] - 0xDC00));
            ++i;
        } else {
            out.push_back(u);
        }
    }
    return out;
}

std::string encodeUTF16Hex(const std::u32string& text) {
    static const char* hex = "0123456789ABCDEF";
    std::string out;
    auto unit = [&](unsigned u) {
        for (int shift = 12; shift >= 0; shift -= 4)
            out.push_back(hex[(u >> shift) & 15]);
    };
    for (char32_t c : text) {
        if (c >= 0x10000) {
            unit(0xD800 + ((c - 0x10000) >> 10));
            unit(0xDC00 + ((c - 0x10000) & 0x3FF));
        } else {
            unit(unsigned(c));
        }
    }
    return out;
}

Code codeAt(const std::string& low, unsigned long offset) {
    static const char* hex = "0123456789ABCDEF";
    unsigned long value = std::stoul(low, nullptr, 16) + offset;
    Code code(low.size(), '0');
    for (std::size_t i = code.size(); i-- > 0; value >>= 4)
        code[i] = hex[value & 15];
    return code;
}

// Parses the bfchar and bfrange sections; false for anything it does not understand.
bool parseMap(const std::string& text, ToUnicodeMap& map) {
    const std::size_t firstChar = text.find("beginbfchar");
    const std::size_t firstRange = text.find("beginbfrange");
    std::size_t first = std::min(firstChar, firstRange);
    if (first == std::string::npos)
        return false;
    // The section's count comes before its operator.
    std::size_t countStart = text.find_last_not_of(" \t\r\n", first - 1);
    if (countStart == std::string::npos ||
        !std::isdigit(static_cast<unsigned char>(text[countStart])))
        return false;
    while (countStart > 0 && std::isdigit(static_cast<unsigned char>(text[countStart - 1])))
        --countStart;
    const std::size_t lastChar = text.rfind("endbfchar");
    const std::size_t lastRange = text.rfind("endbfrange");
    std::size_t last = std::string::npos;
    if (lastChar != std::string::npos)
        last = lastChar + 9;
    if (lastRange != std::string::npos)
        last = last == std::string::npos ? lastRange + 10 : std::max(last, lastRange + 10);
    if (last == std::string::npos || last < first)
        return false;
    map.head = text.substr(0, countStart);
    map.tail = text.substr(last);
    const std::string body = text.substr(countStart, last - countStart);
    Tokens tokens(body);
    std::string token, low, high, value;
    std::u16string units;
    enum { Outside, Chars, Ranges } state = Outside;
    while (tokens.next(token)) {
        if (token == "beginbfchar") {
            state = Chars;
        } else if (token == "beginbfrange") {
            state = Ranges;
        } else if (token == "endbfchar" || token == "endbfrange") {
            state = Outside;
        } else if (state == Outside) {
            if (!std::all_of(token.begin(), token.end(),
                             [](char c) { return std::isdigit(static_cast<unsigned char>(c)); }))
                return false;
        } else if (state == Chars) {
            std::string target;
            if (!hexDigits(token, low) || !tokens.next(token) || !hexDigits(token, target) ||
                !utf16Units(target, units))
                return false;
            map.entries[low] = decodeUTF16(units);
        } else {
            if (!hexDigits(token, low) || !tokens.next(token) || !hexDigits(token, high) ||
                low.size() != high.size() || low.size() > 8 || !tokens.next(token))
                return false;
            const unsigned long from = std::stoul(low, nullptr, 16);
            const unsigned long to = std::stoul(high, nullptr, 16);
            if (to < from || to - from > 0xFFFF)
                return false;
            if (token == "[") {
                for (unsigned long i = 0;; ++i) {
                    if (!tokens.next(token))
                        return false;
                    if (token == "]")
                        break;
                    if (i > to - from || !hexDigits(token, value) || !utf16Units(value, units))
                        return false;
                    map.entries[codeAt(low, i)] = decodeUTF16(units);
                }
            } else {
                if (!hexDigits(token, value) || !utf16Units(value, units) || units.empty())
                    return false;
                for (unsigned long i = 0; i <= to - from; ++i) {
                    std::u16string next = units;
                    next.back() = char16_t(next.back() + i);
                    map.entries[codeAt(low, i)] = decodeUTF16(next);
                }
            }
        }
    }
    return state == Outside;
}

std::string writeMap(const ToUnicodeMap& map) {
    std::string out = map.head;
    auto entry = map.entries.begin();
    while (entry != map.entries.end()) {
        const std::size_t count =
            std::min<std::size_t>(100, std::size_t(std::distance(entry, map.entries.end())));
        out += std::to_string(count) + " beginbfchar\n";
        for (std::size_t i = 0; i < count; ++i, ++entry)
            out += "<" + entry->first + "> <" + encodeUTF16Hex(entry->second) + ">\n";
        out += "endbfchar\n";
    }
    return out + map.tail;
}

} // namespace

std::u32string TypedTextFor(char32_t c, const std::u32string& text) {
    const std::u32string likelier = likelierText(c);
    if (likelier.empty())
        return std::u32string(1, c);
    const bool holdsGiven = text.find(c) != std::u32string::npos;
    const bool holdsLikelier = text.find(likelier) != std::u32string::npos;
    return holdsGiven && !holdsLikelier ? std::u32string(1, c) : likelier;
}

void restoreTypedCharacters(QPDF& pdf, const std::u32string& text) {
    std::set<QPDFObjGen> done;
    try {
        for (QPDFObjectHandle object : pdf.getAllObjects()) {
            if (!object.isDictionary() || !object.hasKey("/ToUnicode"))
                continue;
            QPDFObjectHandle stream = object.getKey("/ToUnicode");
            if (!stream.isStream() || !done.insert(stream.getObjGen()).second)
                continue;
            std::shared_ptr<Buffer> data = stream.getStreamData(qpdf_dl_generalized);
            const std::string original(reinterpret_cast<const char*>(data->getBuffer()),
                                       data->getSize());
            ToUnicodeMap map;
            if (!parseMap(original, map))
                continue;
            bool changed = false;
            for (auto& [code, value] : map.entries) {
                if (value.size() != 1)
                    continue;
                std::u32string typed = TypedTextFor(value[0], text);
                if (typed != value) {
                    value = std::move(typed);
                    changed = true;
                }
            }
            std::set<unsigned> named;
            for (const auto& [code, value] : map.entries)
                if (code.size() == 4 && !value.empty() && value != std::u32string(1, 0))
                    named.insert(unsigned(std::stoul(code, nullptr, 16)));
            for (const auto& [code, c] : NameGlyphsBeyondTheBMP(object, named, text)) {
                map.entries[codeAt("0000", code)] = std::u32string(1, c);
                changed = true;
            }
            if (changed)
                stream.replaceStreamData(writeMap(map), QPDFObjectHandle::newNull(),
                                         QPDFObjectHandle::newNull());
        }
    } catch (const std::exception&) {
        // A map that cannot be read keeps its characters; the PDF itself is sound.
    }
}

} // namespace conversion
