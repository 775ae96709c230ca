#include "PDFToTextCommand.h"

#include "ConversionEntries.h"

#include <charconv>
#include <cstdio>
#include <cstring>
#include <string_view>

namespace {

constexpr const char* kUsage =
    "Usage: convtool pdf-to-text IN.pdf OUTFOLDER --format N [--per-page]\n"
    "                            [--first A] [--last B] [--password P]\n"
    "                            [--base NAME] [--extension EXT]\n"
    "Writes the text of a PDF, with its fonts and styles where the format holds them, as one\n"
    "document, or one per page (NAME-07.EXT) with --per-page. Existing files are kept: a new\n"
    "file takes a free name (\"NAME 1.EXT\").\n"
    "  --format N      1 UTF-8 text, 2 UTF-16 text, 3 RTF, 4 RTFD, 5 Word .doc (needs\n"
    "                  LibreOffice), 6 DOCX, 7 ODT\n"
    "  --first A       first page (1-based); alone: from A to the last page\n"
    "  --last B        last page\n"
    "  --password P    password of an encrypted PDF\n"
    "  --base NAME     base of the file names (default: the input's name)\n"
    "  --extension E   extension of the files (default: the format's; \"\" for none)\n";

const char* defaultExtension(std::int32_t format) {
    switch (format) {
    case kTextFormatUTF8:
    case kTextFormatUTF16:
        return "txt";
    case kTextFormatRTF:
        return "rtf";
    case kTextFormatRTFD:
        return "rtfd";
    case kTextFormatDoc:
        return "doc";
    case kTextFormatDOCX:
        return "docx";
    case kTextFormatODT:
        return "odt";
    default:
        return "";
    }
}

template <typename Integer> bool parseInteger(const char* text, Integer& value) {
    const char* end = text + std::strlen(text);
    const auto [stop, error] = std::from_chars(text, end, value);
    return error == std::errc() && stop == end && stop != text;
}

int usageError(const char* message, const char* argument) {
    std::fprintf(stderr, "convtool pdf-to-text: %s%s%s\n\n%s", message, argument ? " " : "",
                 argument ? argument : "", kUsage);
    return 2;
}

bool takesValue(std::string_view argument) {
    return argument == "--format" || argument == "--first" || argument == "--last" ||
           argument == "--password" || argument == "--base" || argument == "--extension";
}

} // namespace

int PDFToTextCommandMain(int argc, char** argv) {
    PDFToTextOptions options;
    const char* positional[2] = {nullptr, nullptr};
    int positionals = 0;
    bool haveFormat = false;
    bool haveFirst = false;
    bool haveLast = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (argument == "-h" || argument == "--help") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (takesValue(argument) && i + 1 >= argc)
            return usageError("missing value after", argv[i]);
        if (argument == "--format") {
            if (!parseInteger(argv[++i], options.textFormat))
                return usageError("not a format number:", argv[i]);
            haveFormat = true;
        } else if (argument == "--first") {
            if (!parseInteger(argv[++i], options.firstPage))
                return usageError("not a page number:", argv[i]);
            haveFirst = true;
        } else if (argument == "--last") {
            if (!parseInteger(argv[++i], options.lastPage))
                return usageError("not a page number:", argv[i]);
            haveLast = true;
        } else if (argument == "--password") {
            options.password = argv[++i];
        } else if (argument == "--base") {
            options.outputBaseName = argv[++i];
        } else if (argument == "--extension") {
            options.outputExtension = argv[++i];
        } else if (argument == "--per-page") {
            options.filePerPage = true;
        } else if (argument.size() > 1 && argument[0] == '-') {
            return usageError("unknown option", argv[i]);
        } else if (positionals < 2) {
            positional[positionals++] = argv[i];
        } else {
            return usageError("too many arguments:", argv[i]);
        }
    }
    if (positionals < 2)
        return usageError("an input PDF and an output folder are needed", nullptr);
    if (!haveFormat)
        return usageError("--format is needed", nullptr);
    options.inputURL = positional[0];
    options.outputFolderURL = positional[1];
    if (!options.outputExtension)
        options.outputExtension = defaultExtension(options.textFormat);
    if (haveFirst && haveLast && options.lastPage >= 1 && options.lastPage < options.firstPage) {
        std::fprintf(stderr,
                     "convtool pdf-to-text: the page range %lld-%lld runs backwards: its last "
                     "page comes before its first\n",
                     (long long)options.firstPage, (long long)options.lastPage);
        return 2;
    }
    if (haveFirst || haveLast) {
        options.pageRangeMode = kPageRangeFromTo;
        if (!haveFirst)
            options.firstPage = 1;
        if (!haveLast)
            options.lastPage = 0; // to the last page
    }
    try {
        return ConvertPDFToTextDocument(&options) ? 0 : 1;
    } catch (int) {
        return 1; // the library has said why
    }
}
