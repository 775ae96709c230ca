// Reads a document into a Qt text document: plain text (BOM, else UTF-8, else the encoding
// uchardet finds), HTML, Safari web archives, and what LibreOffice turns into HTML.
#pragma once

#include <filesystem>
#include <string>

namespace conversion {

class ConfinedTextDocument;

enum class DocumentKind { PlainText, HTML, WebArchive, Office, RTFD };

DocumentKind documentKindOf(const std::filesystem::path& path);
// Text bytes to UTF-8 by their BOM, their validity as UTF-8 or uchardet's guess; false with
// `error` set for bytes that are no text (a ZIP archive, a program, ...).
bool decodeText(const std::string& bytes, std::string& utf8, std::string& error);
// False with `error` set when the file cannot be read as its kind. The document reads the
// pictures an HTML file names from that file's folder only, and none for the other kinds.
bool loadDocumentText(const std::filesystem::path& path, ConfinedTextDocument& document,
                      bool& isPlain, std::string& error);

} // namespace conversion
