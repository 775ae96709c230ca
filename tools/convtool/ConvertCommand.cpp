#include "ConvertCommand.h"

#include "CommandArguments.h"
#include "ConversionEntries.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

namespace {

void usage(FILE* out) {
    std::fprintf(out,
                 "usage: convtool convert IN OUT --format N [--quality Q] [--dpi D]\n"
                 "                        [--keep-metadata] [--mode OCTAL] [--mtime SECONDS]\n"
                 "  N      output format code 0-24 (4 JPEG, 7 PNG, 10 TIFF, 24 WebP, 8 PDF ...)\n"
                 "  Q      quality 0.0-1.0 (default 0.8; 1.0 is lossless where a format can be)\n"
                 "  D      dots per inch to record; 0 (default) keeps the source's\n");
}

} // namespace

int ConvertCommand(int argc, char** argv) {
    ImageJobOptions options;
    bool formatGiven = false;
    int positional = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const char* next = i + 1 < argc ? argv[i + 1] : nullptr;
        long long number = 0;
        double real = 0;
        if (arg == "--format" && ParseLongArgument(next, &number, 0)) {
            // Out-of-range codes reach the entry, which refuses them with a message.
            options.format = number < INT32_MIN || number > INT32_MAX ? -1 : std::int32_t(number);
            formatGiven = true;
            ++i;
        } else if (arg == "--quality" && ParseDoubleArgument(next, &real)) {
            if (!QualityInRange("convert", "--quality", real))
                return 2;
            options.quality = real;
            ++i;
        } else if (arg == "--dpi" && ParseLongArgument(next, &number, 0)) {
            options.dpi = number;
            ++i;
        } else if (arg == "--keep-metadata") {
            options.keepMetadata = true;
        } else if (arg == "--mode" && next) {
            char* end = nullptr;
            const long mode = std::strtol(next, &end, 8);
            if (!end || *end || mode < 0 || mode > 07777) {
                usage(stderr);
                return 2;
            }
            if (!options.fileAttributes)
                options.fileAttributes = FileAttributes{};
            options.fileAttributes->permissions = mode_t(mode);
            ++i;
        } else if (arg == "--mtime" && ParseLongArgument(next, &number, 0)) {
            if (!options.fileAttributes)
                options.fileAttributes = FileAttributes{};
            options.fileAttributes->modificationTime = std::time_t(number);
            ++i;
        } else if (arg == "-h" || arg == "--help") {
            usage(stdout);
            return 0;
        } else if (!TakeInputOrOutput(arg, positional, options)) {
            return RefuseArgument("convert", arg, usage);
        }
    }
    if (positional != 2 || !formatGiven) {
        usage(stderr);
        return 2;
    }
    return ConvertImageFile(&options) ? 0 : 1;
}
