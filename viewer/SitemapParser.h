// Reads an HTML sitemap (".hhc", ".hhk") into a CHMTableOfContent with libxml2's HTML SAX parser.
//
// Only element starts and ends are handled: UL opens a list level, LI makes a new item, PARAM
// names the current item ("Name"/"Keyword", first one wins) or sets its page ("Local", last one
// wins); names compare ignoring case. Everything else is ignored. The parser recovers from any
// broken markup silently: nothing is printed, nothing fails.
#pragma once

#include <QtGlobal>

class CHMTableOfContent;
class QByteArray;
class QString;

// SAX callbacks (element names and attribute values in UTF-8, as libxml2 delivers them; the
// attribute list holds name/value pairs and ends with a null name). userData is the tree being
// built. They never throw.
void SitemapStartElement(void* userData, const unsigned char* name,
                         const unsigned char** attributes) noexcept;
void SitemapEndElement(void* userData, const unsigned char* name) noexcept;

// How many entries start in text from `from` on: "<li" followed by the end of the tag name,
// ignoring case. Works on the sitemap's bytes in any of the books' code pages, where '<' is
// never part of a longer character.
quint64 countSitemapEntries(const QByteArray& text, qsizetype from);

// Runs the parser over data decoded from encodingName (an IANA-style name such as "CP936" or
// "iso_8859_1") by BookTextDecoder: bytes invalid in the encoding become U+FFFD and the rest is
// read. A NUL byte ends the name or path it is in, not the sitemap. Null or empty data parses
// nothing.
void parseSitemap(CHMTableOfContent& toc, const QByteArray& data, const QString& encodingName);
