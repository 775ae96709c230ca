// Reads an HTML sitemap (".hhc", ".hhk") into a CHMTableOfContent with libxml2's HTML SAX parser.
//
// Only element starts and ends are handled: UL opens a list level, LI makes a new item, PARAM
// names the current item ("Name"/"Keyword", first one wins) or sets its page ("Local", last one
// wins); names compare ignoring case. Everything else is ignored. The parser recovers from any
// broken markup silently: nothing is printed, nothing fails.
#pragma once

class CHMTableOfContent;
class QByteArray;
class QString;

// SAX callbacks (element names and attribute values in UTF-8, as libxml2 delivers them; the
// attribute list holds name/value pairs and ends with a null name). userData is the tree being
// built. They never throw.
void SitemapStartElement(void* userData, const unsigned char* name,
                         const unsigned char** attributes) noexcept;
void SitemapEndElement(void* userData, const unsigned char* name) noexcept;

// Runs the parser over data (up to its first NUL byte) decoded from encodingName, an IANA-style
// name such as "CP936" or "iso_8859_1". A name the converter does not know leaves the decoding to
// libxml2 (UTF-8, falling back to Latin-1). Null or empty data parses nothing.
void parseSitemap(CHMTableOfContent& toc, const QByteArray& data, const QString& encodingName);
