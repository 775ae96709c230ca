// The PDF-to-text export's documents read back by pdftotext, unrtf, unzip with libxml2 and
// LibreOffice.
#pragma once

#include "TestFiles.h"

#include <string>
#include <vector>

// pdftotext's UTF-8 text of pages `first` to `last` (0: the document's last page).
std::string PdftotextOf(const std::string& pdf, int first = 1, int last = 0);
// White space runs (pdftotext's form feeds too) as one blank, none at the ends.
std::string NormalizeSpace(const std::string& text);

// Text of a UTF-16 file that starts with a byte-order mark; empty without one.
std::string ReadUTF16File(const std::string& path);

struct ReadRun {
    std::string text;
    bool bold = false;
    bool italic = false;
    std::string font;
    double size = 0;
};
struct ReadDocument {
    std::string text; // paragraphs end with '\n'
    std::vector<ReadRun> runs;
    bool ok = false;
};

// RTF through `unrtf --html`, parsed with libxml2's HTML parser.
ReadDocument ReadRTF(const std::string& path);
// The XML of a DOCX's word/document.xml or an ODT's content.xml, taken out with unzip.
ReadDocument ReadDOCX(const std::string& path);
ReadDocument ReadODT(const std::string& path);
// True when some run is bold (italic) and holds `text`.
bool HasRun(const ReadDocument& document, const std::string& text, bool bold, bool italic);

// The name and compression method of a ZIP file's first entry, read from its first header.
bool FirstZipEntry(const std::string& path, std::string& name, int& method);

// LibreOffice headless, with a private profile, converting a document to UTF-8 text; false
// when LibreOffice is missing or fails.
bool LibreOfficeText(const std::string& path, std::string& text);
bool HaveLibreOffice();
