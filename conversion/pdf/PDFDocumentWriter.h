// Writes a qpdf document to a file the safe way: into a temporary file in the target's folder,
// then renamed over the target, so a failed write leaves the earlier file as it was. A folder is
// never replaced.
#pragma once

#include "ConversionEntries.h"

#include <filesystem>
#include <string>

class QPDF;

namespace conversion {

// False with `error` set when the target is a folder, the write fails or the rename fails; the
// temporary file is gone on every path.
bool WritePDFDocument(QPDF& document, const std::filesystem::path& destination,
                      const PDFWriteOptions* options, std::string& error);

} // namespace conversion
