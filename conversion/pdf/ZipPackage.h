// The office text formats (DOCX, ODT) are ZIP packages of XML parts, assembled in memory through
// libzip. Both write their parts the same way; only the part names and their order differ.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace conversion {

struct ZipPart {
    std::string name;
    std::string content;
    // OpenDocument requires its "mimetype" part first and uncompressed, so that a reader can
    // identify the package from its first bytes.
    bool stored = false;
};

// The package's bytes, parts in the given order; false with a message in `error` on failure.
bool writeZipPackage(const std::vector<ZipPart>& parts, const std::string& packageName,
                     std::string& bytes, std::string& error);

// Appends text with the five XML special characters escaped.
void appendXMLEscaped(std::string& out, std::string_view text);

} // namespace conversion
