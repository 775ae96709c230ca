// The embedded-image extraction entry. Its option record and progress protocol are the library's
// shared ones (ConversionEntries.h); until that header is in the tree, the fields this entry
// reads are declared here under the same names.
#pragma once

#if __has_include("ConversionEntries.h")
#include "ConversionEntries.h"
#else
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

class ConversionProgress {
public:
    virtual ~ConversionProgress() = default;
    virtual bool isConversionCancelled() { return false; }
    virtual void progress(std::int64_t value) { (void)value; }
};

struct ImageJobOptions {
    bool replaceExisting = false;
    std::int32_t format = 0;
    double quality = 0.8;
    std::optional<std::string> password;
    std::int32_t pageRangeMode = 0;
    std::int64_t firstPage = 1;
    std::int64_t lastPage = 1;
    ConversionProgress* progressTarget = nullptr;
    bool progressSelector = false;
    std::filesystem::path inputURL;
    std::filesystem::path outputURL;
    std::optional<std::string> outputBaseName;
};
#endif

// Writes every picture embedded in the pages of the input PDF (image XObjects of each page's
// resources and of the forms they hold, then the page's inline images) into the output folder as
// "<base>_Page<p>_<k>.<ext>" in the chosen format. Uses inputURL, outputURL (a folder),
// outputBaseName, format, quality, password, the page range, replaceExisting and the progress
// target; false for a missing record or field, an input that does not open or unlock, a page
// range outside the document, or when the last picture handled could not be written.
bool ExtractImagesFromPDF(const ImageJobOptions* options);
