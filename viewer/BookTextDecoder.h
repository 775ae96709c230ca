// Turns text a book stores in its code page (sitemaps, metadata strings, page text) into
// Unicode without ever losing what follows a bad byte.
//
// A byte sequence that is invalid in the code page becomes one U+FFFD and decoding goes on, the
// way browsers decode (the WHATWG Encoding Standard): in a double-byte code page (GBK, Big5,
// Shift-JIS, ...) a lead byte followed by an ASCII byte gives U+FFFD and the ASCII byte is read
// again as itself, so a stray lead byte before a quote or a space does not swallow the quote. A
// sequence cut off by the end of the text gives one U+FFFD. NUL bytes are kept.
//
// The encoding name is any name TextEncodingTable knows ("CP936", "windows-1252", "UTF-8"); an
// empty name means UTF-8; a name iconv does not know decodes as UTF-8 when the bytes are UTF-8
// and as windows-1252 otherwise. Stateless and thread-safe.
#pragma once

#include <QByteArray>
#include <QString>

class BookTextDecoder {
public:
    static QString decode(const QByteArray& bytes, const QString& encodingName);
    static QByteArray toUtf8(const QByteArray& bytes, const QString& encodingName);
};
