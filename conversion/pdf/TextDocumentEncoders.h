// The bytes of a text document in each format that the text export writes, made in memory from
// styled text. Plain text drops the styles; RTF, DOCX and ODT keep each run's font family, size,
// bold and italic, one paragraph per line. Word .doc is made from the RTF by LibreOffice
// (LibreOfficeConverter.h).
#pragma once

#include "StyledText.h"

#include <string>

namespace conversion {

// UTF-8 without a byte-order mark.
std::string encodePlainTextUTF8(const StyledText& text);
// UTF-16 little-endian after the byte-order mark FF FE.
std::string encodePlainTextUTF16(const StyledText& text);
// RTF 1.x in 7-bit ASCII: non-ASCII characters as \u escapes.
std::string encodeRTF(const StyledText& text);
// A minimal Office Open XML package (document, content types, relationships) through libzip.
bool encodeDOCX(const StyledText& text, std::string& bytes, std::string& error);
// OpenDocument text: a package of content, manifest and the uncompressed mimetype first.
bool encodeODT(const StyledText& text, std::string& bytes, std::string& error);

} // namespace conversion
