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

int RefuseArgument(const char* command, const std::string& arg, UsagePrinter usage) {
    std::fprintf(stderr, "convtool %s: unexpected argument \"%s\"\n", command, arg.c_str());
    usage(stderr);
    return 2;
}

bool QualityInRange(const char* command, const char* option, double quality) {
    if (quality >= 0.0 && quality <= 1.0)
        return true;
    std::fprintf(stderr, "convtool %s: %s takes a quality from 0.0 to 1.0, not %g\n", command,
                 option, quality);
    return false;
}

bool PageRangeRunsForward(const char* command, long long first, long long last) {
    if (last < 1 || last >= first)
        return true;
    std::fprintf(stderr,
                 "convtool %s: the page range %lld-%lld runs backwards: its last page comes "
                 "before its first\n",
                 command, first, last);
    return false;
}

int ReadImageJobArguments(
    int argc, char** argv, const char* command, UsagePrinter usage, ImageJobOptions& options,
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
        case OptionTaken::Reported:
            return 2;
        case OptionTaken::No:
            if (arg == "-h" || arg == "--help") {
                usage(stdout);
                return 0;
            }
            if (!TakeInputOrOutput(arg, positional, options))
                return RefuseArgument(command, arg, usage);
            break;
        }
    }
    if (positional != 2 || !formatGiven) {
        usage(stderr);
        return 2;
    }
    return -1;
}
