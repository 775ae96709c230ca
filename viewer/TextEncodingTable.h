// One table for every text encoding name the reader meets: the code-page names that the
// container's language record implies ("CP936"), the names a user picks, and the labels the
// web engine and iconv understand. Everything that turns a name into a decoder goes through here.
#pragma once

#include <QByteArray>
#include <QString>

// The name iconv knows for an encoding name ("CP936" -> "GBK"); unknown names pass through.
QByteArray iconvNameForEncoding(const QString& name);

// The charset label the web engine accepts for an encoding name ("CP1252" -> "windows-1252");
// empty when the name is empty or unknown, so that nothing wrong is announced.
QByteArray webCharsetForEncoding(const QString& name);

// The code-page name for a Windows locale identifier (0x0804 -> "CP936"); null when unknown.
QString encodingNameForLCID(quint32 lcid);

// Decodes bytes in the named encoding; a null QString when the bytes are not valid in it
// or the encoding is unknown. An empty name means UTF-8.
QString decodeText(const QByteArray& bytes, const QString& encodingName);

// Some help compilers write every byte above 0x7F of a sitemap as a Latin-1 character entity
// ("&Atilde;" for the byte 0xC3); Windows shows them in the file's code page. Text made only of
// such characters is turned back into bytes and decoded in the named encoding. Text that holds
// other characters, or an encoding that is Latin-1 in all but name, is answered unchanged.
QString repairEntityEncodedText(const QString& text, const QString& encodingName);
