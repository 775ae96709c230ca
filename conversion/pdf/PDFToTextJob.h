// The PDF-to-text export: open() opens (and, with the caller's password, unlocks) the input and
// answers the code kPDFToTextCannotOpenInput (301) when it is no readable PDF (the entry turns that
// into the thrown integer its callers expect); ExportPDFText then writes
// the chosen pages' text in the chosen format. Lives on its entry's stack; borrows the options,
// which outlive it. Runs on the calling thread; progress and cancellation go through the
// options' target. Messages go through ConversionLog.
#pragma once

#include "ConversionEntries.h"
#include "ConversionLog.h"
#include "StyledText.h"

#include <memory>
#include <string>

class PDFDoc;

namespace conversion {

constexpr int kPDFToTextCannotOpenInput = 301;

class PDFToTextJob {
public:
    explicit PDFToTextJob(const PDFToTextOptions* options);
    ~PDFToTextJob();
    PDFToTextJob(const PDFToTextJob&) = delete;
    PDFToTextJob& operator=(const PDFToTextJob&) = delete;

    // Loads the input; a job whose open() failed must not be exported.
    ConversionResult open();

    const PDFToTextOptions* options;
    std::unique_ptr<PDFDoc> document;
    // An encrypted document that the password (if any) did not open.
    bool locked = false;
};

// True when the text of at least one page was taken and every document was written. False for
// a format code outside 1-7, a document the password does not unlock, a page range outside the
// document, a base name that is no plain file name, or when nothing was written; a failed run
// leaves no file behind.
bool ExportPDFText(PDFToTextJob& job);

// Writes `text` in the options' format under the first free name of `name` and the options'
// extension in the output folder. A document appears only when completely written.
bool WriteTextDocument(PDFToTextJob& job, const std::string& name, const StyledText& text);

} // namespace conversion
