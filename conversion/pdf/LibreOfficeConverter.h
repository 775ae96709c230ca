// Converts a document file with LibreOffice headless ("soffice --convert-to"). Each call starts
// its own LibreOffice with a private profile folder (so it neither waits for nor disturbs a
// LibreOffice the user runs), no user interaction, its output discarded, and a time limit after
// which its whole process group is killed. It neither updates nor loads what the document links
// to and runs without a network where the system allows (LibreOfficeIsolation.h; where it does
// not, the log says so once a process). Blocks the calling thread for the conversion.
#pragma once

#include <chrono>
#include <filesystem>
#include <string>

namespace conversion {

// The LibreOffice program found in PATH ("soffice", then "libreoffice"); empty when missing.
std::filesystem::path findLibreOffice();

struct LibreOfficeConversion {
    // The document to convert and the extension that names its type ("rtf").
    std::string input;
    std::string inputExtension;
    // `--convert-to` argument, e.g. "doc:MS Word 97" or "txt:Text (encoded):UTF8".
    std::string target;
    // The file LibreOffice made ends up here (replaced when it exists).
    std::filesystem::path output;
    // When set, the other files LibreOffice wrote beside it (the pictures of an HTML export)
    // are copied into this folder under their own names.
    std::filesystem::path companions = {};
    std::chrono::seconds timeLimit{120};
};

// False with `error` set when LibreOffice is missing, fails, makes no file or runs out of time.
bool convertWithLibreOffice(const LibreOfficeConversion& conversion, std::string& error);

} // namespace conversion
