#include "HTMLTextExtractor.h"

#include <QHash>
#include <algorithm>
#include <array>
#include <cstring>

namespace {

// The names of U+00A0 to U+00FF, in order. HTML accepts these also without the closing ";".
constexpr std::array<const char*, 96> kLatin1Entities{
    "nbsp",   "iexcl",  "cent",   "pound",  "curren", "yen",    "brvbar", "sect",   "uml",
    "copy",   "ordf",   "laquo",  "not",    "shy",    "reg",    "macr",   "deg",    "plusmn",
    "sup2",   "sup3",   "acute",  "micro",  "para",   "middot", "cedil",  "sup1",   "ordm",
    "raquo",  "frac14", "frac12", "frac34", "iquest", "Agrave", "Aacute", "Acirc",  "Atilde",
    "Auml",   "Aring",  "AElig",  "Ccedil", "Egrave", "Eacute", "Ecirc",  "Euml",   "Igrave",
    "Iacute", "Icirc",  "Iuml",   "ETH",    "Ntilde", "Ograve", "Oacute", "Ocirc",  "Otilde",
    "Ouml",   "times",  "Oslash", "Ugrave", "Uacute", "Ucirc",  "Uuml",   "Yacute", "THORN",
    "szlig",  "agrave", "aacute", "acirc",  "atilde", "auml",   "aring",  "aelig",  "ccedil",
    "egrave", "eacute", "ecirc",  "euml",   "igrave", "iacute", "icirc",  "iuml",   "eth",
    "ntilde", "ograve", "oacute", "ocirc",  "otilde", "ouml",   "divide", "oslash", "ugrave",
    "uacute", "ucirc",  "uuml",   "yacute", "thorn",  "yuml"};

struct NamedEntity {
    const char* name;
    char32_t codePoint;
};

// The ASCII syntax characters (all but "apos" also accepted without ";", as HTML has it) and the
// typographic entities help pages use most.
constexpr std::array<NamedEntity, 39> kOtherEntities{{
    {"amp", U'&'},      {"lt", U'<'},       {"gt", U'>'},       {"quot", U'"'},
    {"apos", U'\''},    {"OElig", 0x152},   {"oelig", 0x153},   {"Scaron", 0x160},
    {"scaron", 0x161},  {"Yuml", 0x178},    {"fnof", 0x192},    {"circ", 0x2C6},
    {"tilde", 0x2DC},   {"ensp", 0x2002},   {"emsp", 0x2003},   {"thinsp", 0x2009},
    {"zwnj", 0x200C},   {"zwj", 0x200D},    {"lrm", 0x200E},    {"rlm", 0x200F},
    {"ndash", 0x2013},  {"mdash", 0x2014},  {"lsquo", 0x2018},  {"rsquo", 0x2019},
    {"sbquo", 0x201A},  {"ldquo", 0x201C},  {"rdquo", 0x201D},  {"bdquo", 0x201E},
    {"dagger", 0x2020}, {"Dagger", 0x2021}, {"bull", 0x2022},   {"hellip", 0x2026},
    {"permil", 0x2030}, {"lsaquo", 0x2039}, {"rsaquo", 0x203A}, {"euro", 0x20AC},
    {"trade", 0x2122},  {"larr", 0x2190},   {"rarr", 0x2192},
}};

// Browsers read references to U+0080..U+009F as the windows-1252 characters of those bytes.
constexpr std::array<char16_t, 32> kWindows1252High{
    0x20AC, 0xFFFD, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0xFFFD, 0x017D, 0xFFFD, 0xFFFD, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0xFFFD, 0x017E, 0x0178};

struct EntityValue {
    char32_t codePoint;
    bool legacy; // recognised without the closing ";"
};

const QHash<QByteArray, EntityValue>& entityTable() {
    static const QHash<QByteArray, EntityValue> table = [] {
        QHash<QByteArray, EntityValue> t;
        for (size_t i = 0; i < kLatin1Entities.size(); ++i)
            t.insert(kLatin1Entities[i], {static_cast<char32_t>(0xA0 + i), true});
        for (const NamedEntity& e : kOtherEntities)
            t.insert(e.name, {e.codePoint, e.codePoint < 0x80 && e.codePoint != U'\''});
        return t;
    }();
    return table;
}

// Elements that flow inside a line: their tags do not separate words.
constexpr std::array<const char*, 31> kInlineTags{
    "a",      "abbr",   "acronym", "b",   "bdi",  "bdo",  "big", "cite", "code", "data",  "dfn",
    "em",     "font",   "i",       "kbd", "mark", "nobr", "q",   "s",    "samp", "small", "span",
    "strike", "strong", "sub",     "sup", "time", "tt",   "u",   "var",  "wbr"};

bool isInlineTag(const char* name) {
    for (const char* tag : kInlineTags) {
        if (std::strcmp(tag, name) == 0)
            return true;
    }
    return false;
}

char16_t lowerAscii(char16_t c) {
    return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c - u'A' + u'a') : c;
}

bool isAsciiLetter(char16_t c) {
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
}

bool isAsciiAlnum(char16_t c) {
    return isAsciiLetter(c) || (c >= u'0' && c <= u'9');
}

bool isSpace(char16_t c) {
    return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r' || c == u'\f';
}

class Extractor {
public:
    explicit Extractor(const QString& html)
        : m_text(reinterpret_cast<const char16_t*>(html.constData())), m_size(html.size()) {
        m_out.reserve(html.size() / 2);
    }

    QString run() {
        while (m_at < m_size) {
            qsizetype plain = m_at;
            while (plain < m_size && m_text[plain] != u'<' && m_text[plain] != u'&')
                ++plain;
            if (plain > m_at) {
                m_out.append(reinterpret_cast<const QChar*>(m_text + m_at), plain - m_at);
                m_at = plain;
            } else if (m_text[m_at] == u'<') {
                markup();
            } else {
                reference();
            }
        }
        return m_out;
    }

private:
    bool startsWithAt(qsizetype at, const char* word) const {
        for (qsizetype i = 0; word[i]; ++i) {
            if (at + i >= m_size || lowerAscii(m_text[at + i]) != static_cast<char16_t>(word[i]))
                return false;
        }
        return true;
    }

    // Index of the first occurrence of `word` (lower case, ASCII) at or after `from`, ignoring
    // case; m_size when there is none.
    qsizetype find(qsizetype from, const char* word) const {
        for (qsizetype i = from; i < m_size; ++i) {
            if (lowerAscii(m_text[i]) == static_cast<char16_t>(word[0]) && startsWithAt(i, word))
                return i;
        }
        return m_size;
    }

    void separate() {
        if (!m_out.isEmpty() && !isSpace(m_out.back().unicode()))
            m_out.append(u' ');
    }

    void markup() {
        const qsizetype start = m_at;
        const char16_t next = start + 1 < m_size ? m_text[start + 1] : u'\0';
        if (next == u'!') {
            if (startsWithAt(start + 2, "--"))
                return comment(start + 4);
            // A declaration or a bogus comment: up to the next ">".
            m_at = std::min(find(start + 2, ">") + 1, m_size);
            return;
        }
        if (next == u'?') {
            m_at = std::min(find(start + 2, ">") + 1, m_size);
            return;
        }
        const bool closing = next == u'/';
        const qsizetype nameStart = start + (closing ? 2 : 1);
        if (nameStart >= m_size || !isAsciiLetter(m_text[nameStart])) {
            // "a < b": a plain character.
            m_out.append(QChar(m_text[m_at++]));
            return;
        }
        char name[16] = {};
        qsizetype i = nameStart;
        size_t length = 0;
        for (; i < m_size && (isAsciiAlnum(m_text[i]) || m_text[i] == u':'); ++i) {
            if (length + 1 < sizeof name)
                name[length++] = static_cast<char>(lowerAscii(m_text[i]));
        }
        m_at = tagEnd(i);
        if (!isInlineTag(name))
            separate();
        if (!closing && (std::strcmp(name, "script") == 0 || std::strcmp(name, "style") == 0))
            skipRawText(name);
    }

    // Just past the ">" that closes the tag whose attributes start at `from`; a quoted
    // attribute value may hold ">".
    qsizetype tagEnd(qsizetype from) const {
        qsizetype i = from;
        while (i < m_size) {
            const char16_t c = m_text[i];
            if (c == u'>')
                return i + 1;
            if (c == u'=') {
                ++i;
                while (i < m_size && isSpace(m_text[i]))
                    ++i;
                if (i < m_size && (m_text[i] == u'"' || m_text[i] == u'\'')) {
                    const char16_t quote = m_text[i++];
                    while (i < m_size && m_text[i] != quote)
                        ++i;
                    ++i;
                }
                continue;
            }
            ++i;
        }
        return m_size;
    }

    // The contents of a script or style element, up to its end tag.
    void skipRawText(const char* name) {
        char endTag[20] = "</";
        std::strncat(endTag, name, sizeof endTag - 3);
        const size_t endLength = std::strlen(endTag);
        qsizetype i = m_at;
        while ((i = find(i, endTag)) < m_size) {
            const qsizetype after = i + static_cast<qsizetype>(endLength);
            if (after >= m_size || isSpace(m_text[after]) || m_text[after] == u'>' ||
                m_text[after] == u'/') {
                m_at = tagEnd(after);
                return;
            }
            i = after;
        }
        m_at = m_size;
    }

    void comment(qsizetype bodyStart) {
        // "<!-->" and "<!--->" are complete, empty comments.
        if (startsWithAt(bodyStart, ">")) {
            m_at = bodyStart + 1;
            return;
        }
        if (startsWithAt(bodyStart, "->")) {
            m_at = bodyStart + 2;
            return;
        }
        const qsizetype end = find(bodyStart, "-->");
        m_at = std::min(end + 3, m_size);
    }

    void reference() {
        const qsizetype start = m_at;
        qsizetype i = start + 1;
        if (i < m_size && m_text[i] == u'#') {
            ++i;
            const bool hex = i < m_size && (m_text[i] == u'x' || m_text[i] == u'X');
            if (hex)
                ++i;
            const qsizetype digitsStart = i;
            char32_t value = 0;
            for (; i < m_size; ++i) {
                const char16_t c = m_text[i];
                int digit = -1;
                if (c >= u'0' && c <= u'9')
                    digit = c - u'0';
                else if (hex && c >= u'a' && c <= u'f')
                    digit = c - u'a' + 10;
                else if (hex && c >= u'A' && c <= u'F')
                    digit = c - u'A' + 10;
                if (digit < 0)
                    break;
                // Anything past the last code point stays out of range without overflowing.
                value = std::min<char32_t>(value * (hex ? 16 : 10) + static_cast<char32_t>(digit),
                                           0x110000);
            }
            if (i == digitsStart) {
                m_out.append(QChar(m_text[m_at++]));
                return;
            }
            if (i < m_size && m_text[i] == u';')
                ++i;
            m_at = i;
            appendCodePoint(value);
            return;
        }
        char name[33] = {};
        size_t length = 0;
        for (; i < m_size && isAsciiAlnum(m_text[i]) && length + 1 < sizeof name; ++i)
            name[length++] = static_cast<char>(m_text[i]);
        const bool terminated = i < m_size && m_text[i] == u';';
        const auto found =
            entityTable().constFind(QByteArray(name, static_cast<qsizetype>(length)));
        if (length == 0 || found == entityTable().cend() || (!terminated && !found->legacy)) {
            m_out.append(QChar(m_text[m_at++]));
            return;
        }
        m_at = terminated ? i + 1 : i;
        appendCodePoint(found->codePoint);
    }

    void appendCodePoint(char32_t value) {
        if (value == 0xA0) {
            // A no-break space separates words like any other.
            m_out.append(u' ');
            return;
        }
        if (value >= 0x80 && value <= 0x9F)
            value = kWindows1252High[value - 0x80];
        if (value == 0 || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF))
            value = 0xFFFD;
        const char32_t one[1] = {value};
        m_out.append(QString::fromUcs4(one, 1));
    }

    const char16_t* m_text;
    qsizetype m_size;
    qsizetype m_at = 0;
    QString m_out;
};

} // namespace

QString HTMLTextExtractor::visibleText(const QString& html) {
    return Extractor(html).run();
}
