#include "ITSSProtocol.h"

#include "CHMDocument.h"
#include "CharsetSniffer.h"
#include "PathExtension.h"
#include "TextEncodingTable.h"

#include <QCoreApplication>
#include <QStringDecoder>
#include <array>

namespace {

// chmlib stores no longer names; a longer path cannot name an object and is not passed on.
constexpr qsizetype kMaxPathBytes = 512;
// How much of a requested path the "page missing" page shows.
constexpr qsizetype kMaxShownPath = 1024;

struct MimeEntry {
    const char* extension;
    const char* mimeType;
    bool isText; // announced with a charset
};

// Chromium does not sniff style sheets and scripts from a custom scheme, so every object gets
// the type of its extension.
constexpr std::array<MimeEntry, 25> kMimeTypes{{
    {"htm", "text/html", true},
    {"html", "text/html", true},
    {"css", "text/css", true},
    {"js", "text/javascript", true},
    {"txt", "text/plain", true},
    {"png", "image/png", false},
    {"gif", "image/gif", false},
    {"jpg", "image/jpeg", false},
    {"jpeg", "image/jpeg", false},
    {"jpe", "image/jpeg", false},
    {"bmp", "image/bmp", false},
    {"ico", "image/x-icon", false},
    {"svg", "image/svg+xml", false},
    {"webp", "image/webp", false},
    {"xml", "text/xml", false},
    {"json", "application/json", false},
    {"woff", "font/woff", false},
    {"woff2", "font/woff2", false},
    {"ttf", "font/ttf", false},
    {"otf", "font/otf", false},
    {"eot", "application/vnd.ms-fontobject", false},
    {"pdf", "application/pdf", false},
    {"mp3", "audio/mpeg", false},
    {"wav", "audio/wav", false},
    {"mp4", "video/mp4", false},
}};

constexpr char kUnknownMimeType[] = "application/octet-stream";

const MimeEntry* mimeEntryFor(const QString& extension) {
    for (const MimeEntry& e : kMimeTypes) {
        if (extension == QLatin1String(e.extension))
            return &e;
    }
    return nullptr;
}

bool isPageExtension(const QString& extension) {
    return extension == QLatin1String("htm") || extension == QLatin1String("html");
}

int hexValue(char16_t c) {
    if (c >= u'0' && c <= u'9')
        return c - u'0';
    if (c >= u'a' && c <= u'f')
        return c - u'a' + 10;
    if (c >= u'A' && c <= u'F')
        return c - u'A' + 10;
    return -1;
}

// Replaces percent escapes once, as UTF-8. Null when an escape is malformed or the bytes are
// no UTF-8: such a path cannot be unescaped.
QString unescapeOnce(const QString& path) {
    if (!path.contains(u'%'))
        return path;
    const QByteArray utf8 = path.toUtf8();
    QByteArray bytes;
    bytes.reserve(utf8.size());
    for (qsizetype i = 0; i < utf8.size(); ++i) {
        if (utf8[i] != '%') {
            bytes.append(utf8[i]);
            continue;
        }
        if (i + 2 >= utf8.size())
            return {};
        const int hi = hexValue(static_cast<uchar>(utf8[i + 1]));
        const int lo = hexValue(static_cast<uchar>(utf8[i + 2]));
        if (hi < 0 || lo < 0)
            return {};
        bytes.append(static_cast<char>(hi * 16 + lo));
        i += 2;
    }
    QStringDecoder decoder(QStringDecoder::Utf8);
    QString text = decoder(bytes);
    if (decoder.hasError())
        return {};
    return text;
}

// Resolves "." and ".." segments the way the web engine does before it asks (never above the
// root), so that no caller reaches the container with them.
QString removeDotSegments(const QString& path) {
    if (!path.contains(u'.'))
        return path;
    const QStringList segments = path.split(u'/');
    bool hasDots = false;
    for (const QString& s : segments)
        hasDots = hasDots || s == QLatin1String(".") || s == QLatin1String("..");
    if (!hasDots)
        return path;
    QStringList out;
    for (qsizetype i = 0; i < segments.size(); ++i) {
        const QString& s = segments[i];
        const bool last = i + 1 == segments.size();
        if (s == QLatin1String(".") || s == QLatin1String("..")) {
            // Keep the root's empty first segment.
            if (s == QLatin1String("..") && out.size() > 1)
                out.removeLast();
            if (last)
                out.append(QString());
            continue;
        }
        out.append(s);
    }
    return out.join(u'/');
}

// Whether the container may be asked about the path at all.
bool isAskablePath(const QString& path) {
    return !path.isNull() && !path.contains(QChar(u'\0')) && path.toUtf8().size() <= kMaxPathBytes;
}

// A style sheet's leading `@charset "name";`.
QByteArray cssCharset(const QByteArray& bytes) {
    static const QByteArray prefix("@charset \"");
    if (!bytes.startsWith(prefix))
        return {};
    const qsizetype end = bytes.indexOf('"', prefix.size());
    if (end < 0 || end - prefix.size() > 64)
        return {};
    return bytes.mid(prefix.size(), end - prefix.size());
}

// The charset a text object declares for itself, as a web charset label; empty when it declares
// none or one the table does not know (the web engine then follows the page's own declaration).
// `declares` tells the two apart.
QByteArray declaredCharset(const QByteArray& bytes, const QString& extension, bool* declares) {
    QByteArray label;
    if (isPageExtension(extension) || CharsetSniffer::byteOrderMarkLength(bytes) > 0)
        label = CharsetSniffer::declaredCharset(bytes);
    else if (extension == QLatin1String("css"))
        label = cssCharset(bytes);
    *declares = !label.isEmpty();
    return label.isEmpty() ? QByteArray() : webCharsetForEncoding(QString::fromLatin1(label));
}

QByteArray charsetFor(const QByteArray& bytes, const QString& extension,
                      const QString& encodingName, bool userChosen) {
    if (!userChosen) {
        bool declares = false;
        const QByteArray declared = declaredCharset(bytes, extension, &declares);
        if (declares)
            return declared;
    }
    return webCharsetForEncoding(encodingName);
}

// The reader's own page for a page the book lacks; the path is shown escaped.
QByteArray missingPage(const QString& path) {
    QString shown = path.left(kMaxShownPath);
    for (QChar& c : shown) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7F)
            c = QChar(QChar::ReplacementCharacter);
    }
    if (path.size() > kMaxShownPath)
        shown += QChar(0x2026);
    const QString title = QCoreApplication::translate("ITSSProtocol", "Page missing");
    const QString text =
        QCoreApplication::translate("ITSSProtocol", "This book has no page at %1.");
    const QString html =
        QStringLiteral("<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>%1</title>"
                       "<style>body{font-family:sans-serif;margin:2em;color:#333}"
                       "code{word-break:break-all}</style></head>\n<body><h1>%1</h1><p>%2</p>"
                       "</body></html>\n")
            .arg(title.toHtmlEscaped(),
                 text.toHtmlEscaped().arg(QStringLiteral("<code>") + shown.toHtmlEscaped() +
                                          QStringLiteral("</code>")));
    return html.toUtf8();
}

} // namespace

bool ITSSProtocol::canInitWithRequest(const QUrl& url) {
    // QUrl has lower-cased the scheme while parsing (the web engine does the same), so a URL
    // written "ITSS:" passes here; only its text can still tell it apart.
    return url.scheme() == QLatin1String("itss");
}

bool ITSSProtocol::canInitWithRequest(const QString& urlText) {
    return urlText.startsWith(QLatin1String("itss:"));
}

QString ITSSProtocol::requestedPath(const QUrl& url) {
    // QUrl's path holds the ";" parameter part, without query and fragment: a page asked for
    // as a.htm?x=1 is a.htm to the container (its scripts still see the query).
    return removeDotSegments(url.path(QUrl::FullyDecoded));
}

ITSSResponse ITSSProtocol::startLoading(const QUrl& url, CHMDocument* doc,
                                        const QString& encodingName, bool userChosen,
                                        quint64 firstPieceLength) {
    ITSSResponse response;
    if (!doc || !doc->isOpen() || !canInitWithRequest(url))
        return response;

    const QString requested = requestedPath(url);
    QString lookup = requested;
    bool worthReading = isAskablePath(lookup) && doc->exist(lookup);
    if (!worthReading) {
        // A stored name may itself hold a percent escape that the URL escaped once more.
        const QString unescaped = removeDotSegments(unescapeOnce(lookup));
        worthReading = unescaped != lookup && isAskablePath(unescaped);
        lookup = unescaped;
    }
    QByteArray bytes;
    if (worthReading)
        bytes =
            firstPieceLength > 0 ? doc->content(lookup, 0, firstPieceLength) : doc->content(lookup);
    const QString extension = pathExtension(lookup.isNull() ? requested : lookup);

    if (bytes.isEmpty()) {
        // An empty or absent page would leave the tab blank; say what is missing instead.
        if (!isPageExtension(extension))
            return response;
        response.ok = true;
        response.isMissingPage = true;
        response.bytes = missingPage(requested);
        response.mimeType = "text/html";
        response.charset = "UTF-8";
        return response;
    }

    const MimeEntry* mime = mimeEntryFor(extension);
    response.ok = true;
    response.mimeType = mime ? QByteArray(mime->mimeType) : QByteArray(kUnknownMimeType);
    if (mime && mime->isText)
        response.charset = charsetFor(bytes, extension, encodingName, userChosen);
    response.bytes = bytes;
    if (firstPieceLength > 0 && static_cast<quint64>(bytes.size()) >= firstPieceLength) {
        response.hasMore = true;
        response.lookupPath = lookup;
    }
    return response;
}
