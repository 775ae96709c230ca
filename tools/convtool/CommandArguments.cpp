#include "CommandArguments.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>

bool ParseLongArgument(const char* text, long long* value, int base) {
    if (!text || !*text)
        return false;
    char* end = nullptr;
    errno = 0;
    *value = std::strtoll(text, &end, base);
    return errno == 0 && end && *end == 0;
}

bool ParseDoubleArgument(const char* text, double* value) {
    if (!text || !*text)
        return false;
    char* end = nullptr;
    errno = 0;
    *value = std::strtod(text, &end);
    return errno == 0 && end && *end == 0;
}

bool TakeInputOrOutput(const std::string& arg, int& positional, ImageJobOptions& options) {
    if (arg.empty() || arg[0] == '-' || positional >= 2)
        return false;
    (positional == 0 ? options.inputURL : options.outputURL) = arg;
    ++positional;
    return true;
}

int RefuseArgument(const char* command, const std::string& arg, void (*usage)()) {
    std::fprintf(stderr, "convtool %s: unexpected argument \"%s\"\n", command, arg.c_str());
    usage();
    return 2;
}
