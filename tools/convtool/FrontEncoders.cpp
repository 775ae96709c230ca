// The front (FrontMain.cpp) hands the text export's ODT and Word formats to convtool-commands,
// so it never writes them; these take the place of the library's writers, which would load Qt and
// start LibreOffice, and only report that they are not in this program.
#include "LibreOfficeConverter.h"
#include "TextDocumentEncoders.h"

namespace conversion {

bool encodeODT(const StyledText&, std::string&, std::string& error) {
    error = "ODT is written by convtool-commands";
    return false;
}

bool convertWithLibreOffice(const LibreOfficeConversion&, std::string& error) {
    error = "Word documents are written by convtool-commands";
    return false;
}

} // namespace conversion
