// What the search index holds for one container object: the text a reader sees, or nothing.
//
// Pages (".htm", ".html", ... or content that looks like HTML) lose their markup, scripts and
// style blocks; plain text (".txt", files without a known type) is taken as it is. Style sheets,
// scripts, images, sitemaps, binary objects (a NUL byte among the first kBinaryScanLength bytes
// without a UTF-16 byte-order mark) and the container's own "/#..." and "/$..." objects are not
// text a reader searches.
//
// Decoding: the charset the object declares for itself (byte-order mark or <meta>), then the
// document's encoding, then UTF-8, then Latin-1 (which always succeeds): the same order in which
// the page is shown. Pure functions, safe from any thread.
#pragma once

#include <QByteArray>
#include <QString>

class SearchableText {
public:
    enum class Kind { Skipped, Page, PlainText };

    static constexpr qsizetype kBinaryScanLength = 1024;

    // Whether the path alone rules the object out (its bytes need not be read).
    static bool isSkippedPath(const QByteArray& path);

    // How an object is treated, by its path as stored ("/dir/a.htm") and its first bytes.
    static Kind kindOf(const QByteArray& path, const QByteArray& bytes);

    // The object's searchable text; null when it is skipped or holds nothing.
    static QString textOf(const QByteArray& path, const QByteArray& bytes,
                          const QString& encodingName);

    // The page's <title>, whitespace collapsed; empty for objects that are no pages or have none.
    static QString titleOf(const QByteArray& path, const QByteArray& bytes,
                           const QString& encodingName);

    // The bytes as text, by the decoding order above; charsets are read from the bytes only
    // when `declaresCharset` (pages).
    static QString decode(const QByteArray& bytes, const QString& encodingName,
                          bool declaresCharset);
};
