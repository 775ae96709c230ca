// PDFs with real text drawn by cairo in embedded, subset DejaVu Sans: a bold heading, prose, an
// italic closing line a page.
#pragma once

#include <string>
#include <vector>

struct TextPDFLine {
    std::string text; // UTF-8
    bool bold = false;
    bool italic = false;
    double size = 11;
};

using TextPDFPage = std::vector<TextPDFLine>; // empty: a page without text

// The usual test page for page number `number` (1-based): heading "Chapter N", `bodyLines`
// lines of prose that differ from page to page, an italic line.
TextPDFPage ProsePage(int number, int bodyLines = 12);

// Writes the pages as an A4 PDF; false when cairo fails.
bool WriteTextPDF(const std::string& path, const std::vector<TextPDFPage>& pages);

// `count` prose pages.
bool WriteProsePDF(const std::string& path, int count, int bodyLines = 12);
