// Mixed inputs (images, documents, PDFs) to PDF: one PDF per input in an output folder, or all
// in list order in one PDF whose outline has an entry per input that gave pages, labelled with
// its file name, with each PDF input's own outline beneath its entry.
#pragma once

#include "ConversionEntries.h"

#include <filesystem>

namespace conversion {

class MergeFilesJob {
public:
    explicit MergeFilesJob(const MergeFilesOptions* o) : options(o) {}
    const MergeFilesOptions* options;

    bool MergeFilesSeparately();
    bool MergeFilesIntoOne();
};

// True for files named .html or .htm (either case) or detected as HTML.
bool IsHTMLFile(const std::filesystem::path& file);

} // namespace conversion
