#include "CharsetSniffer.h"

#include <algorithm>

namespace {

char lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
}

bool isNameChar(char c) {
    const char l = lower(c);
    return (l >= 'a' && l <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_';
}

// Whether `word` (lower case) is at `at`, ignoring case.
bool matchesAt(const char* data, qsizetype size, qsizetype at, const char* word) {
    for (qsizetype i = 0; word[i]; ++i) {
        if (at + i >= size || lower(data[at + i]) != word[i])
            return false;
    }
    return true;
}

// The value of a `charset = value` assignment whose name ends just before `at`; empty when
// no "=" follows. Quotes around the value are dropped; the value ends at a quote, ";", "/",
// ">" or a space.
QByteArray valueAfter(const char* data, qsizetype end, qsizetype at) {
    qsizetype i = at;
    while (i < end && isSpace(data[i]))
        ++i;
    if (i >= end || data[i] != '=')
        return {};
    ++i;
    while (i < end && isSpace(data[i]))
        ++i;
    while (i < end && (data[i] == '"' || data[i] == '\''))
        ++i;
    const qsizetype start = i;
    while (i < end && data[i] != '"' && data[i] != '\'' && data[i] != ';' && data[i] != '>' &&
           data[i] != '/' && !isSpace(data[i]))
        ++i;
    return QByteArray(data + start, i - start);
}

QByteArray metaCharset(const QByteArray& bytes) {
    const char* data = bytes.constData();
    const qsizetype size = std::min(bytes.size(), CharsetSniffer::kScanLength);
    for (qsizetype at = 0; at + 5 <= size; ++at) {
        if (data[at] != '<' || !matchesAt(data, size, at + 1, "meta"))
            continue;
        qsizetype end = at + 5;
        while (end < size && data[end] != '>')
            ++end;
        for (qsizetype c = at + 5; c + 7 <= end; ++c) {
            if (!matchesAt(data, end, c, "charset") || isNameChar(data[c - 1]))
                continue;
            const QByteArray value = valueAfter(data, end, c + 7);
            if (!value.isEmpty())
                return value;
        }
        at = end;
    }
    return {};
}

} // namespace

namespace CharsetSniffer {

qsizetype byteOrderMarkLength(const QByteArray& bytes) {
    if (bytes.startsWith("\xEF\xBB\xBF"))
        return 3;
    if (bytes.startsWith("\xFF\xFE") || bytes.startsWith("\xFE\xFF"))
        return 2;
    return 0;
}

QByteArray declaredCharset(const QByteArray& bytes) {
    if (bytes.startsWith("\xEF\xBB\xBF"))
        return "UTF-8";
    if (bytes.startsWith("\xFF\xFE"))
        return "UTF-16LE";
    if (bytes.startsWith("\xFE\xFF"))
        return "UTF-16BE";
    const QByteArray declared = metaCharset(bytes);
    // Markup we could read byte by byte is not UTF-16, whatever it says.
    if (declared.toLower().startsWith("utf-16"))
        return "UTF-8";
    return declared;
}

} // namespace CharsetSniffer
