// The words of a printed PDF, page by page, from Poppler's text engine in content order.
//
// The PDF stays in the caller's buffer, which must outlive this object. Poppler's process-wide
// settings (UTF-8 output) are made once for the process by lumeno::ensurePopplerGlobals() and
// shared with every Poppler user of the process. A PDF Poppler cannot open has no pages.
#pragma once

#include "PrintedWord.h"

#include <QByteArray>
#include <memory>
#include <vector>

class PDFDoc;

class PrintedPDFText {
public:
    explicit PrintedPDFText(const QByteArray& pdf);
    ~PrintedPDFText();
    PrintedPDFText(const PrintedPDFText&) = delete;
    PrintedPDFText& operator=(const PrintedPDFText&) = delete;

    bool isOk() const;
    int pageCount() const;
    // Words of the 0-based page; empty for a page out of range or without text.
    std::vector<PrintedWord> wordsOfPage(int index);

    // Makes sure Poppler's process-wide settings exist; false when it has no UTF-8 map.
    static bool setUpTextEngine();

private:
    std::unique_ptr<PDFDoc> m_doc;
};
