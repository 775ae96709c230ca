#include "PopplerMessages.h"

#include "ConversionLog.h"
#include "PopplerGlobals.h"

#include <Error.h>

#include <mutex>
#include <string>

namespace conversion {

namespace {

const char* categoryName(ErrorCategory category) {
    switch (category) {
    case errSyntaxWarning:
        return "Syntax Warning";
    case errSyntaxError:
        return "Syntax Error";
    case errConfig:
        return "Config Error";
    case errCommandLine:
        return "Command Line Error";
    case errIO:
        return "I/O Error";
    case errNotAllowed:
        return "Permission Error";
    case errUnimplemented:
        return "Unimplemented Feature";
    case errInternal:
        return "Internal Error";
    }
    return "Error";
}

// As Poppler words its lines, the byte offset of a syntax error included.
void toConversionLog(ErrorCategory category, Goffset position, const char* message) {
    std::string line = categoryName(category);
    if (position >= 0)
        line += " (" + std::to_string(position) + ")";
    line += ": ";
    line += message ? message : "";
    ConversionLog(line);
}

} // namespace

bool ensurePopplerWithConversionLog() {
    // The settings first: they hold the callback for the life of the process from then on.
    const bool utf8 = lumeno::ensurePopplerGlobals();
    static std::once_flag once;
    std::call_once(once, [] { setErrorCallback(toConversionLog); });
    return utf8;
}

} // namespace conversion
