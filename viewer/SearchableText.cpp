#include "SearchableText.h"

#include "BookTextDecoder.h"
#include "CharsetSniffer.h"
#include "HTMLTextExtractor.h"
#include "PathExtension.h"
#include "TextEncodingTable.h"

#include <array>

namespace {

constexpr std::array<const char*, 6> kPageExtensions{"htm", "html", "xhtml", "xht", "shtml", "stm"};

// Objects a reader never reads as text, whatever bytes they hold: style sheets, scripts,
// images, and the sitemaps (their entries are what a search lists, not what it finds).
constexpr std::array<const char*, 17> kSkippedExtensions{
    "css", "js",  "png",  "gif",  "jpg", "jpeg", "jpe", "bmp",  "ico",
    "svg", "tif", "tiff", "webp", "hhc", "hhk",  "hhp", "class"};

// Markup that only HTML starts with; looked for among the first bytes, ignoring case.
constexpr std::array<const char*, 4> kHtmlMarkers{"<!doctype html", "<html", "<head", "<body"};

QByteArray extensionOf(const QByteArray& path) {
    return pathExtension(QString::fromUtf8(path)).toLatin1();
}

template <size_t N> bool isOneOf(const QByteArray& word, const std::array<const char*, N>& list) {
    for (const char* entry : list) {
        if (word == entry)
            return true;
    }
    return false;
}

bool looksLikeHtml(const QByteArray& bytes) {
    const QByteArray head = bytes.left(SearchableText::kBinaryScanLength).toLower();
    for (const char* marker : kHtmlMarkers) {
        if (head.contains(marker))
            return true;
    }
    return false;
}

bool isUtf8Label(const QByteArray& label) {
    const QByteArray l = label.toLower();
    return l == "utf-8" || l == "utf8";
}

} // namespace

bool SearchableText::isSkippedPath(const QByteArray& path) {
    return path.startsWith("/#") || path.startsWith("/$") ||
           isOneOf(extensionOf(path), kSkippedExtensions);
}

SearchableText::Kind SearchableText::kindOf(const QByteArray& path, const QByteArray& bytes) {
    if (isSkippedPath(path))
        return Kind::Skipped;
    const QByteArray extension = extensionOf(path);
    const bool utf16 = bytes.startsWith("\xFF\xFE") || bytes.startsWith("\xFE\xFF");
    if (!utf16 && bytes.left(kBinaryScanLength).contains('\0'))
        return Kind::Skipped;
    if (isOneOf(extension, kPageExtensions))
        return Kind::Page;
    if (extension == "txt")
        return Kind::PlainText;
    return looksLikeHtml(bytes) ? Kind::Page : Kind::PlainText;
}

QString SearchableText::decode(const QByteArray& bytes, const QString& encodingName,
                               bool declaresCharset) {
    const qsizetype bom = CharsetSniffer::byteOrderMarkLength(bytes);
    const QByteArray declared =
        (bom > 0 || declaresCharset) ? CharsetSniffer::declaredCharset(bytes) : QByteArray();
    const QByteArray body = bytes.mid(bom);
    if (!declared.isEmpty()) {
        // Browsers show a page that declares UTF-8 with its stray bad bytes replaced, not in
        // another encoding.
        if (isUtf8Label(declared))
            return QString::fromUtf8(body);
        const QString text = decodeText(body, QString::fromLatin1(declared));
        if (!text.isNull())
            return text;
    }
    if (!encodingName.isEmpty()) {
        const QString text = decodeText(body, encodingName);
        if (!text.isNull())
            return text;
    }
    const QString utf8 = decodeText(body, QStringLiteral("UTF-8"));
    if (!utf8.isNull())
        return utf8;
    // Valid in no candidate: a stray bad byte must not cost the page its words, so decode in the
    // most likely encoding with the bad sequences replaced.
    QString likely = encodingName;
    if (!declared.isEmpty() && !decodeText(QByteArray("a"), QString::fromLatin1(declared)).isNull())
        likely = QString::fromLatin1(declared);
    if (likely.isEmpty())
        return QString::fromLatin1(body);
    return BookTextDecoder::decode(body, likely);
}

QString SearchableText::textOf(const QByteArray& path, const QByteArray& bytes,
                               const QString& encodingName) {
    if (bytes.isEmpty())
        return {};
    const Kind kind = kindOf(path, bytes);
    if (kind == Kind::Skipped)
        return {};
    const QString text = decode(bytes, encodingName, kind == Kind::Page);
    return kind == Kind::Page ? HTMLTextExtractor::visibleText(text) : text;
}

QString SearchableText::titleOf(const QByteArray& path, const QByteArray& bytes,
                                const QString& encodingName) {
    if (bytes.isEmpty() || kindOf(path, bytes) != Kind::Page)
        return {};
    const QString text = decode(bytes, encodingName, true);
    const qsizetype open = text.indexOf(QLatin1String("<title"), 0, Qt::CaseInsensitive);
    const qsizetype start = open < 0 ? -1 : text.indexOf(QLatin1Char('>'), open);
    const qsizetype end =
        start < 0 ? -1 : text.indexOf(QLatin1String("</title"), start, Qt::CaseInsensitive);
    if (end < 0)
        return {};
    return HTMLTextExtractor::visibleText(text.mid(start + 1, end - start - 1)).simplified();
}
