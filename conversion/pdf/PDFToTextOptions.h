// The options of the PDF-to-text export and its entry. The caller fills the record and keeps it
// alive for the call; the job only reads it.
#pragma once

#include "ConversionEntries.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

enum TextDocumentFormat : std::int32_t {
    kTextFormatUTF8 = 1,
    kTextFormatUTF16 = 2,
    kTextFormatRTF = 3,
    kTextFormatRTFD = 4,
    kTextFormatDoc = 5,
    kTextFormatDOCX = 6,
    kTextFormatODT = 7,
};

struct PDFToTextOptions {
    std::filesystem::path inputURL;
    std::filesystem::path outputFolderURL;
    // Unset: the input's file name without its extension.
    std::optional<std::string> outputBaseName;
    // Extension of every file written; unset or empty: none. Not derived from the format.
    std::optional<std::string> outputExtension;
    // Tried on an encrypted, locked PDF; an empty string is a password too.
    std::optional<std::string> password;
    std::int32_t textFormat = kTextFormatUTF8;
    bool filePerPage = false;
    std::int64_t firstPage = 1;
    std::int64_t lastPage = 1;
    std::int32_t pageRangeMode = kPageRangeAll;
    ConversionProgress* progressTarget = nullptr;
    bool progressSelector = false;
};

// Writes the text of the chosen pages, with its fonts, sizes, bold and italic where the format
// holds them, as one document per page ("Base-07") or one document for all pages ("Base"), under
// names that no existing file has. True when at least one page's text was written and no write
// failed. Throws the integer 301 when the input cannot be opened as a PDF.
bool ConvertPDFToTextDocument(const PDFToTextOptions* options);
