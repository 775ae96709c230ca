#include "DocumentsToPDFJob.h"
#include "ConversionLog.h"

#include "DocumentAnchors.h"
#include "DocumentLayout.h"
#include "ImagesToPDFJob.h"
#include "IsPDFPageBlank.h"
#include "ItemFailures.h"
#include "MergedPDFDocument.h"
#include "OutputFile.h"
#include "StyledText.h"
#include "TypedCharacters.h"

#include <poppler-document.h>
#include <poppler-page.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace conversion {

namespace {

double length(double v) {
    return std::isfinite(v) && v > 0 ? v : 0.0;
}

} // namespace

std::vector<bool> blankPagesOf(const std::filesystem::path& pdf) {
    std::unique_ptr<poppler::document> document(poppler::document::load_from_file(pdf.string()));
    if (!document || document->is_locked())
        return {};
    std::vector<bool> blank(std::size_t(std::max(0, document->pages())), false);
    for (std::size_t i = 0; i < blank.size(); ++i) {
        std::unique_ptr<poppler::page> page(document->create_page(int(i)));
        blank[i] = IsPDFPageBlank(page.get());
    }
    return blank;
}

void DocumentsToPDFJob::SetDocumentsToPDFOptions(const DocumentsToPDFOptions& o) {
    SetDocumentLayout(o.orientation, o.writeOptions, o.textAttributes, o.richTextAttributes,
                      o.paperWidth, o.paperHeight, o.leftMargin, o.rightMargin, o.topMargin,
                      o.bottomMargin);
    jobList = o.jobList;
    outputURL = o.outputURL;
}

void DocumentsToPDFJob::SetDocumentLayout(std::int64_t landscape, const PDFWriteOptions* options,
                                          const TextAttributes* attributes, bool rich, double width,
                                          double height, double left, double right, double top,
                                          double bottom) {
    orientation = landscape;
    writeOptions = options;
    textAttributes = attributes;
    richTextAttributes = rich;
    paperWidth = length(width);
    paperHeight = length(height);
    leftMargin = length(left);
    rightMargin = length(right);
    topMargin = length(top);
    bottomMargin = length(bottom);
    jobList.clear();
    outputURL.clear();
}

bool DocumentsToPDFJob::PrintDocumentToPDF(const std::filesystem::path& documentPath,
                                           const std::filesystem::path& destination,
                                           std::string& error) {
    DocumentLayoutRequest request;
    request.document = documentPath;
    request.paperWidth = paperWidth;
    request.paperHeight = paperHeight;
    request.leftMargin = leftMargin;
    request.rightMargin = rightMargin;
    request.topMargin = topMargin;
    request.bottomMargin = bottomMargin;
    request.landscape = orientation == 1;
    if (textAttributes)
        request.attributes = *textAttributes;
    request.richTextAttributes = richTextAttributes;
    const std::filesystem::path folder = destination.parent_path();
    const RemoveOnExit print = claimTemporaryIn(folder.empty() ? "." : folder);
    request.print = print.path;
    // Qt's layout cannot be interrupted and may run for ever on hostile documents: it runs in a
    // child process that is killed past the time limit.
    // The layout writes the document's text beside the print file: the PDF's character names
    // are set from it.
    RemoveOnExit text{laidOutTextPath(print.path)};
    RemoveOnExit anchorsFile{anchorPlacesPath(print.path)};
    if (!layOutDocumentInHelper(request, error, target))
        return false;
    SourcePDF printed = openCopyablePDF(print.path, std::nullopt, error);
    if (!printed) {
        error = "the printed document cannot be read back: " + error;
        return false;
    }
    restoreTypedCharacters(*printed.pdf, DecodeUTF8(readLaidOutText(text.path)));
    std::vector<bool> blank;
    if (!insideMerge)
        blank = blankPagesOf(print.path);
    // All pages blank: one stays, so the output is still a PDF with a page.
    const bool allBlank =
        !blank.empty() && std::all_of(blank.begin(), blank.end(), [](bool b) { return b; });
    MergedPDFDocument output;
    std::vector<int> printedPage; // of each page taken
    output.appendPagesFrom(
        std::move(printed),
        [&](int page) {
            const bool keep = std::size_t(page) >= blank.size() ||
                              (allBlank ? page == 0 : !blank[std::size_t(page)]);
            if (keep)
                printedPage.push_back(page);
            return keep;
        },
        nullptr);
    // A merge takes the links with their targets into its document.
    linkAnchorsWithinDocument(output.pdf().getAllPages(), printedPage,
                              readAnchorPlaces(anchorsFile.path));
    return output.write(destination, insideMerge ? nullptr : writeOptions, error);
}

bool DocumentsToPDFJob::ConvertDocumentsSeparately() {
    insideMerge = false;
    std::error_code ec;
    if (!jobList.empty() && !std::filesystem::is_directory(outputURL, ec)) {
        ConversionLogf("documents-to-pdf: %s is no folder to write into\n", outputURL.c_str());
        return false;
    }
    // Every document is tried; the run succeeds only when every one was written.
    std::size_t failed = 0;
    for (const std::filesystem::path& input : jobList) {
        ReportConversionProgress(target, selector, 3);
        const std::filesystem::path output = uniquePDFPathFor(outputURL, input);
        std::string error = "no name is free for its PDF";
        if (output.empty() || !PrintDocumentToPDF(input, output, error)) {
            ++failed;
            NoteFailedItem(input);
            ConversionLogf("documents-to-pdf: %s: %s\n", input.c_str(), error.c_str());
        }
        if (IsConversionCancelled(target))
            return false;
    }
    return failed == 0;
}

bool DocumentsToPDFJob::MergeDocumentsIntoPDF() {
    insideMerge = true;
    MergedPDFDocument merged;
    std::filesystem::path folder = outputURL.parent_path();
    if (folder.empty())
        folder = ".";
    std::size_t failed = 0;
    for (const std::filesystem::path& input : jobList) {
        ReportConversionProgress(target, selector, 3);
        RemoveOnExit claimed = claimTemporaryIn(folder);
        const std::filesystem::path part = claimed.path;
        // The printed pages' contents are read from the part file when the merge is written.
        merged.removeWhenDone(std::move(claimed));
        std::string error;
        SourcePDF pages;
        if (PrintDocumentToPDF(input, part, error))
            pages = openCopyablePDF(part, std::nullopt, error);
        if (pages) {
            merged.appendPagesFrom(std::move(pages), {}, nullptr);
        } else {
            ++failed;
            NoteFailedItem(input);
            ConversionLogf("documents-to-pdf: %s: %s\n", input.c_str(), error.c_str());
        }
        if (IsConversionCancelled(target))
            return false;
    }
    if (merged.pageCount() == 0)
        return false;
    ReportConversionProgress(target, selector, 6);
    std::string error;
    const bool written = merged.write(outputURL, writeOptions, error);
    if (!written)
        ConversionLogf("documents-to-pdf: %s: %s\n", outputURL.c_str(), error.c_str());
    ReportConversionProgress(target, selector, 7);
    // The pages that could be made are written; the run succeeds only when none failed.
    return written && failed == 0;
}

} // namespace conversion
