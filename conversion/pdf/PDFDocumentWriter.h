// Writes a qpdf document to a file the safe way: into a temporary file in the target's folder,
// then renamed over the target, so a failed write leaves the earlier file as it was. A folder is
// never replaced.
#pragma once

#include "ConversionEntries.h"

#include <filesystem>
#include <string>

class QPDF;

namespace conversion {

// Whether the options restrict anything (printing, copying, changing, annotating).
bool hasRestrictions(const PDFWriteOptions& options);
// Restrictions hold only when an owner password that differs from the user's guards them:
// without one, whoever opens the file holds every right and can lift them. False with `error`
// set when the options ask for restrictions that would not hold.
bool restrictionsHold(const PDFWriteOptions& options, std::string& error);

// False with `error` set when the options ask for restrictions that would not hold (nothing is
// written), when the target is a folder, the write fails or the rename fails; the
// temporary file is gone on every path.
bool WritePDFDocument(QPDF& document, const std::filesystem::path& destination,
                      const PDFWriteOptions* options, std::string& error);

} // namespace conversion
