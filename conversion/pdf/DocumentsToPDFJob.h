// Documents to PDF: plain text, HTML, web archives and (through LibreOffice, to HTML first) RTF,
// RTFD, Word and OpenDocument files, laid out with Qt's text document on the paper within the
// margins and painted page by page into a PDF. Blank pages are dropped from per-document output
// (one is kept when all are blank); inside a merge every printed page stays.
#pragma once

#include "ConversionEntries.h"

#include <filesystem>
#include <string>
#include <vector>

namespace conversion {

class DocumentsToPDFJob {
public:
    std::vector<std::filesystem::path> jobList;
    std::filesystem::path outputURL;
    ConversionProgress* target = nullptr;
    bool selector = false;
    double paperWidth = 612, paperHeight = 792;
    double leftMargin = 0, rightMargin = 0, topMargin = 0, bottomMargin = 0;
    std::int64_t orientation = 0;
    const PDFWriteOptions* writeOptions = nullptr;
    const TextAttributes* textAttributes = nullptr;
    bool richTextAttributes = false;
    bool insideMerge = false;

    void SetDocumentsToPDFOptions(const DocumentsToPDFOptions& options);
    // Negative or non-finite lengths count as 0.
    void SetDocumentLayout(std::int64_t orientation, const PDFWriteOptions* options,
                           const TextAttributes* attributes, bool rich, double width, double height,
                           double left, double right, double top, double bottom);
    void SetProgressTarget(ConversionProgress* t, bool hasSelector) {
        target = t;
        selector = hasSelector;
    }
    // A PDF of the document at `destination`; false with `error` set (and nothing written) when
    // the document cannot be read or laid out. Its links to its own anchors lead to their places.
    bool PrintDocumentToPDF(const std::filesystem::path& document,
                            const std::filesystem::path& destination, std::string& error);
    bool ConvertDocumentsSeparately();
    bool MergeDocumentsIntoPDF();
};

// For each page of the PDF, whether it is blank; empty when it cannot be read.
std::vector<bool> blankPagesOf(const std::filesystem::path& pdf);

} // namespace conversion
