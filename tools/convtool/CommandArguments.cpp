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

int ReadImageJobArguments(
    int argc, char** argv, const char* command, void (*usage)(), ImageJobOptions& options,
    const bool& formatGiven,
    const std::function<OptionTaken(const std::string&, const char*)>& option) {
    int positional = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        switch (option(arg, i + 1 < argc ? argv[i + 1] : nullptr)) {
        case OptionTaken::WithValue:
            ++i;
            break;
        case OptionTaken::Alone:
            break;
        case OptionTaken::Refused:
            return RefuseArgument(command, arg, usage);
        case OptionTaken::No:
            if (arg == "-h" || arg == "--help") {
                usage();
                return 0;
            }
            if (!TakeInputOrOutput(arg, positional, options))
                return RefuseArgument(command, arg, usage);
            break;
        }
    }
    if (positional != 2 || !formatGiven) {
        usage();
        return 2;
    }
    return -1;
}
