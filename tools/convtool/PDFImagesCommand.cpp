// convtool pdf-images: runs ExtractImagesFromPDF.
#include "PDFImagesCommand.h"

#include "ConversionEntries.h"
#include "ImageFormats.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

void usage(FILE* out) {
    std::fprintf(out,
                 "Usage: convtool pdf-images [OPTIONS] IN.pdf OUTFOLDER\n\n"
                 "Writes the pictures embedded in the pages of IN.pdf into OUTFOLDER as\n"
                 "<base>_Page<p>_<k>.<ext>.\n\n"
                 "  -format NAME|N     output format: an extension (png, jpg, tif, webp, pdf,\n"
                 "                     ...) or an image format code (default png)\n"
                 "  -first N -last M   pages N to M (1-based)\n"
                 "  -page N            page N only\n"
                 "  -base NAME         base name of the files (default: the input's name)\n"
                 "  -password TEXT     password of an encrypted input\n"
                 "  -replace           replace files that already have a chosen name\n"
                 "  -progress          print each page number as it starts\n");
}

class PrintingProgress : public ConversionProgress {
public:
    void progress(std::int64_t value) override { std::printf("page %lld\n", (long long)value); }
};

// An extension ("png", "jpg", "tiff") or a format code; 0 when neither.
std::int32_t formatCode(const std::string& text) {
    std::string lower;
    for (char c : text)
        lower += char(std::tolower(static_cast<unsigned char>(c)));
    if (lower == "jpeg")
        lower = "jpg";
    if (lower == "tif")
        lower = "tiff";
    for (std::int32_t code = 1; code < conversion::kFormatCount; ++code) {
        std::string ext = conversion::ExtensionForImageFormat(code);
        if (ext == "tif")
            ext = "tiff";
        if (!ext.empty() && ext == lower)
            return code;
    }
    char* end = nullptr;
    const long n = std::strtol(text.c_str(), &end, 10);
    return !text.empty() && !*end && conversion::isKnownFormatCode(std::int32_t(n))
               ? std::int32_t(n)
               : 0;
}

bool parseNumber(const char* text, std::int64_t& out) {
    char* end = nullptr;
    const long long v = std::strtoll(text, &end, 10);
    if (!*text || *end)
        return false;
    out = v;
    return true;
}

} // namespace

int PDFImagesCommandMain(int argc, char** argv) {
    ImageJobOptions options;
    options.format = 7;
    PrintingProgress progress;
    const char* positional[2] = {nullptr, nullptr};
    int positionals = 0;
    bool haveFirst = false, haveLast = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
        if (arg == "-h" || arg == "--help") {
            usage(stdout);
            return 0;
        } else if (arg == "-format") {
            const char* v = value();
            const std::int32_t code = v ? formatCode(v) : 0;
            if (code == 0) {
                std::fprintf(stderr, "pdf-images: -format takes an image format (png, jpg, ...)\n");
                return 2;
            }
            options.format = code;
        } else if (arg == "-first" || arg == "-last" || arg == "-page") {
            const char* v = value();
            std::int64_t n = 0;
            if (!v || !parseNumber(v, n)) {
                std::fprintf(stderr, "pdf-images: %s takes a page number\n", arg.c_str());
                return 2;
            }
            if (arg == "-page") {
                options.pageRangeMode = 1;
                options.firstPage = n;
            } else if (arg == "-first") {
                options.firstPage = n;
                haveFirst = true;
            } else {
                options.lastPage = n;
                haveLast = true;
            }
        } else if (arg == "-base") {
            const char* v = value();
            if (!v) {
                usage(stderr);
                return 2;
            }
            options.outputBaseName = v;
        } else if (arg == "-password") {
            const char* v = value();
            if (!v) {
                usage(stderr);
                return 2;
            }
            options.password = v;
        } else if (arg == "-replace") {
            options.replaceExisting = true;
        } else if (arg == "-progress") {
            options.progressTarget = &progress;
            options.progressSelector = true;
        } else if (!arg.empty() && arg[0] == '-') {
            std::fprintf(stderr, "pdf-images: unknown option %s\n\n", arg.c_str());
            usage(stderr);
            return 2;
        } else if (positionals < 2) {
            positional[positionals++] = argv[i];
        } else {
            usage(stderr);
            return 2;
        }
    }
    if (positionals != 2) {
        usage(stderr);
        return 2;
    }
    if (options.pageRangeMode != 1 && haveFirst && haveLast && options.lastPage >= 1 &&
        options.lastPage < options.firstPage) {
        std::fprintf(stderr,
                     "pdf-images: the page range %lld-%lld runs backwards: its last page comes "
                     "before its first\n",
                     (long long)options.firstPage, (long long)options.lastPage);
        return 2;
    }
    if (options.pageRangeMode != 1 && (haveFirst || haveLast)) {
        options.pageRangeMode = 2;
        if (!haveFirst)
            options.firstPage = 1;
        if (!haveLast)
            options.lastPage = 0; // to the end
    }
    options.inputURL = positional[0];
    options.outputURL = positional[1];
    std::error_code ec;
    if (!std::filesystem::is_directory(options.outputURL, ec)) {
        std::fprintf(stderr, "pdf-images: %s is not a folder\n", positional[1]);
        return 1;
    }
    return ExtractImagesFromPDF(&options) ? 0 : 1;
}
