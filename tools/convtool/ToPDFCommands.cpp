#include "ToPDFCommands.h"

#include "ConversionEntries.h"
#include "ToPDFRunChecks.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace {

constexpr const char* kCommonOptions =
    "  --paper WxH        paper in points, portrait (default 612x792; 3 to 14400 a side)\n"
    "  --margin M         every margin in points; --margins L,R,T,B for each\n"
    "  --landscape        paper turned\n"
    "  --user-password P  encrypt; P opens the file\n"
    "  --owner-password P encrypt; P lifts the restrictions below\n"
    "  --no-print, --no-copy, --no-modify   restrictions of an encrypted file; they need\n"
    "                     an --owner-password that differs from the user password\n";

constexpr const char* kImageOptions =
    "  --fit              every page the paper's size, images fitted within the margins,\n"
    "                     resolution measured against the fitted image (--page-size-mode 2:\n"
    "                     against the image's own resolution)\n"
    "  --max-dpi N        resample images above N pixels per inch\n"
    "  --scale P          scale images to P percent (never enlarged)\n"
    "  --angle DEG        turn the images that follow (90, 180, 270, -90...)\n"
    "  --format N         format code of resampled images (4 JPEG; others lossless)\n"
    "  --quality Q        JPEG quality 0..1\n"
    "  --color-mode N     1 RGB, 2 CMYK, 3 grey\n";

constexpr const char* kTextOptions = "  --font FAMILY      font of plain text\n"
                                     "  --font-size PT     size of plain text\n"
                                     "  --rich-attributes  font and size for rich documents too\n";

// One line per input as the job takes it on.
class ProgressLines : public ConversionProgress {
public:
    ProgressLines(const char* command, std::vector<std::string> names)
        : command_(command), names_(std::move(names)) {}
    void progress(std::int64_t value) override {
        if (value == 3 && next_ < names_.size()) {
            std::printf("%s: [%zu/%zu] %s\n", command_, next_ + 1, names_.size(),
                        names_[next_].c_str());
            ++next_;
        } else if (value == 6) {
            std::printf("%s: writing\n", command_);
        }
        std::fflush(stdout);
    }

private:
    const char* command_;
    std::vector<std::string> names_;
    std::size_t next_ = 0;
};

struct Settings {
    double paperW = 612, paperH = 792;
    double margins[4] = {36, 36, 36, 36}; // left, right, top, bottom
    bool landscape = false;
    bool merge = true;
    PDFWriteOptions write;
    bool encrypt = false;
    std::int32_t pageSizeMode = 0;
    std::int64_t maxDPI = 0;
    std::int64_t scale = 100;
    std::int32_t format = 0;
    double quality = 0.8;
    std::int32_t colorMode = 0;
    TextAttributes text;
    bool richAttributes = false;
};

struct Input {
    std::string path;
    std::optional<std::int64_t> angle;
    std::optional<std::string> password;
};

bool parseNumber(const char* text, double& value) {
    char* end = nullptr;
    value = std::strtod(text, &end);
    return end != text && *end == '\0';
}

// Parses the options shared by the three commands; false on a bad argument.
bool parse(int argc, char** argv, const char* command, Settings& s, std::string& output,
           std::vector<Input>& inputs) {
    std::optional<std::int64_t> angle;
    std::optional<std::string> password;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&]() -> const char* {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "convtool %s: %s needs a value\n", command, a.c_str());
                return nullptr;
            }
            return argv[++i];
        };
        auto number = [&](double& out) {
            const char* v = value();
            if (!v || !parseNumber(v, out)) {
                if (v)
                    std::fprintf(stderr, "convtool %s: bad number for %s: %s\n", command, a.c_str(),
                                 v);
                return false;
            }
            return true;
        };
        double n = 0;
        if (a == "--merge") {
            s.merge = true;
        } else if (a == "--separate") {
            s.merge = false;
        } else if (a == "--landscape") {
            s.landscape = true;
        } else if (a == "--fit") {
            s.pageSizeMode = 1;
        } else if (a == "--rich-attributes") {
            s.richAttributes = true;
        } else if (a == "--no-print") {
            s.write.allowPrinting = false;
        } else if (a == "--no-copy") {
            s.write.allowCopying = false;
        } else if (a == "--no-modify") {
            s.write.allowModifying = s.write.allowAnnotating = false;
        } else if (a == "--paper") {
            const char* v = value();
            if (!v || std::sscanf(v, "%lfx%lf", &s.paperW, &s.paperH) != 2) {
                std::fprintf(stderr, "convtool %s: --paper wants WxH in points\n", command);
                return false;
            }
            if (const std::string problem = conversion::paperSizeProblem(s.paperW, s.paperH);
                !problem.empty()) {
                std::fprintf(stderr, "convtool %s: --paper %s: %s\n", command, v, problem.c_str());
                return false;
            }
        } else if (a == "--margin") {
            if (!number(n))
                return false;
            std::fill(std::begin(s.margins), std::end(s.margins), n);
        } else if (a == "--margins") {
            const char* v = value();
            if (!v || std::sscanf(v, "%lf,%lf,%lf,%lf", &s.margins[0], &s.margins[1], &s.margins[2],
                                  &s.margins[3]) != 4) {
                std::fprintf(stderr, "convtool %s: --margins wants L,R,T,B\n", command);
                return false;
            }
        } else if (a == "--page-size-mode" || a == "--max-dpi" || a == "--scale" ||
                   a == "--format" || a == "--color-mode" || a == "--angle") {
            if (!number(n))
                return false;
            if (a == "--page-size-mode")
                s.pageSizeMode = std::int32_t(n);
            else if (a == "--max-dpi")
                s.maxDPI = std::int64_t(n);
            else if (a == "--scale")
                s.scale = std::int64_t(n);
            else if (a == "--format")
                s.format = std::int32_t(n);
            else if (a == "--color-mode")
                s.colorMode = std::int32_t(n);
            else
                angle = std::int64_t(n);
        } else if (a == "--quality" || a == "--font-size") {
            if (!number(n))
                return false;
            if (a == "--quality") {
                if (!(n >= 0.0 && n <= 1.0)) {
                    std::fprintf(stderr,
                                 "convtool %s: --quality takes a quality from 0.0 to 1.0, not %g\n",
                                 command, n);
                    return false;
                }
                s.quality = n;
            } else
                s.text.fontSize = n;
        } else if (a == "--font") {
            const char* v = value();
            if (!v)
                return false;
            s.text.fontFamily = v;
        } else if (a == "--password") {
            const char* v = value();
            if (!v)
                return false;
            password = v;
        } else if (a == "--user-password" || a == "--owner-password") {
            const char* v = value();
            if (!v)
                return false;
            (a == "--user-password" ? s.write.userPassword : s.write.ownerPassword) = v;
            s.encrypt = true;
        } else if (a.size() > 1 && a[0] == '-' && a != "-") {
            std::fprintf(stderr, "convtool %s: unknown option %s\n", command, a.c_str());
            return false;
        } else if (output.empty()) {
            output = a;
        } else {
            inputs.push_back({a, angle, password});
        }
    }
    if (output.empty() || inputs.empty()) {
        std::fprintf(stderr, "convtool %s: an output and at least one input are needed\n", command);
        return false;
    }
    // Restrictions that anybody could lift are refused rather than written.
    const PDFWriteOptions& w = s.write;
    const bool restricted =
        !w.allowPrinting || !w.allowCopying || !w.allowModifying || !w.allowAnnotating;
    const std::string owner = w.ownerPassword.value_or("");
    if (restricted && (owner.empty() || owner == w.userPassword.value_or(""))) {
        std::fprintf(stderr,
                     "convtool %s: --no-print, --no-copy and --no-modify hold only with an "
                     "--owner-password that differs from the --user-password\n",
                     command);
        return false;
    }
    return true;
}

std::vector<std::string> namesOf(const std::vector<Input>& inputs) {
    std::vector<std::string> names;
    for (const Input& i : inputs)
        names.push_back(i.path);
    return names;
}

int usage(const char* text) {
    std::fprintf(stderr, "%s\nOptions:\n%s", text, kCommonOptions);
    return 2;
}

std::string lowerExtension(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    const std::size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return {};
    std::string e = path.substr(dot + 1);
    std::transform(e.begin(), e.end(), e.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    return e;
}

std::int32_t fileTypeOf(const std::string& path) {
    static const char* images[] = {"jpg", "jpeg", "jpe", "png",  "tif", "tiff", "gif",
                                   "bmp", "webp", "jp2", "j2k",  "jpf", "jpx",  "psd",
                                   "tga", "ico",  "exr", "heic", "pcx", "sgi"};
    const std::string e = lowerExtension(path);
    if (e == "pdf")
        return kMergeFilePDF;
    for (const char* image : images)
        if (e == image)
            return kMergeFileImage;
    return kMergeFileDocument;
}

// What the three to-PDF commands hand over alike; their options name these fields the same.
template <class Options>
void fillSharedOptions(Options& o, Settings& s, const std::string& output, ProgressLines& lines) {
    o.outputURL = output;
    o.progressTarget = &lines;
    o.progressSelector = true;
    o.merge = s.merge;
    o.leftMargin = s.margins[0];
    o.rightMargin = s.margins[1];
    o.topMargin = s.margins[2];
    o.bottomMargin = s.margins[3];
    o.orientation = s.landscape ? 1 : 0;
    o.writeOptions = s.encrypt ? &s.write : nullptr;
}

// What a to-PDF command was given.
struct CommandLine {
    Settings settings;
    std::string output;
    std::vector<Input> inputs;
};

// The opening every to-PDF command shares: help (to standard output, status 0) or usage (to
// standard error, status 2) when asked or given nothing, then the arguments, with `margin` points
// on every side unless they say otherwise; nothing, with `status` set, when the command ends there.
std::optional<CommandLine> readCommandLine(int argc, char** argv, const char* command,
                                           const char* text, const std::string& options,
                                           double margin, int& status) {
    const bool help = argc >= 2 && (!std::strcmp(argv[1], "-h") || !std::strcmp(argv[1], "--help"));
    if (argc < 2 || help) {
        std::fprintf(help ? stdout : stderr, "%s\nOptions:\n%s%s", text, kCommonOptions,
                     options.c_str());
        status = help ? 0 : 2;
        return std::nullopt;
    }
    CommandLine line;
    for (double& side : line.settings.margins)
        side = margin;
    if (!parse(argc, argv, command, line.settings, line.output, line.inputs)) {
        status = usage(text);
        return std::nullopt;
    }
    return line;
}

} // namespace

int ImagesToPDFCommandMain(int argc, char** argv) {
    static const char* text =
        "Usage: convtool images-to-pdf OUT IMAGE... [--separate] [options]\n"
        "Writes the images as pages of the PDF OUT, or with --separate one PDF per image into\n"
        "the folder OUT. Pages take their image's size unless --fit is given.";
    int status = 0;
    std::optional<CommandLine> line =
        readCommandLine(argc, argv, "images-to-pdf", text, kImageOptions, 0, status);
    if (!line)
        return status;
    auto& [s, output, inputs] = *line;
    ProgressLines lines("images-to-pdf", namesOf(inputs));
    ImagesToPDFOptions o;
    fillSharedOptions(o, s, output, lines);
    o.quality = s.quality;
    o.pageImageFormat = s.format;
    o.colorMode = s.colorMode;
    o.pageSizeMode = s.pageSizeMode;
    o.maximumResolution = s.maxDPI;
    o.pageWidth = std::uint64_t(std::max(0.0, s.paperW));
    o.pageHeight = std::uint64_t(std::max(0.0, s.paperH));
    o.scalePercent = s.scale;
    for (const Input& i : inputs)
        o.jobList.push_back({i.path, i.angle});
    return ConvertImagesToPDF(&o) ? 0 : 1;
}

int DocumentsToPDFCommandMain(int argc, char** argv) {
    static const char* text =
        "Usage: convtool documents-to-pdf OUT DOCUMENT... [--separate] [options]\n"
        "Lays out text, HTML, web archives, RTF, RTFD, DOC, DOCX and ODT documents on the paper\n"
        "into the PDF OUT, or with --separate one PDF per document into the folder OUT.";
    int status = 0;
    std::optional<CommandLine> line =
        readCommandLine(argc, argv, "documents-to-pdf", text, kTextOptions, 72, status);
    if (!line)
        return status;
    auto& [s, output, inputs] = *line;
    ProgressLines lines("documents-to-pdf", namesOf(inputs));
    DocumentsToPDFOptions o;
    for (const Input& i : inputs)
        o.jobList.push_back(i.path);
    fillSharedOptions(o, s, output, lines);
    o.richTextAttributes = s.richAttributes;
    o.paperWidth = s.paperW;
    o.paperHeight = s.paperH;
    o.textAttributes = &s.text;
    return ConvertDocumentsToPDF(&o) ? 0 : 1;
}

int MergeCommandMain(int argc, char** argv) {
    static const char* text =
        "Usage: convtool merge OUT INPUT... [--separate] [--password P] [options]\n"
        "Puts PDFs, images and documents (judged by extension) in order into the PDF OUT, with\n"
        "an outline entry per input, or with --separate converts each into the folder OUT.\n"
        "--password P unlocks the encrypted PDFs that follow it.";
    int status = 0;
    std::optional<CommandLine> line = readCommandLine(
        argc, argv, "merge", text, std::string(kImageOptions) + kTextOptions, 36, status);
    if (!line)
        return status;
    auto& [s, output, inputs] = *line;
    ProgressLines lines("merge", namesOf(inputs));
    MergeFilesOptions o;
    for (const Input& i : inputs)
        o.jobList.push_back({fileTypeOf(i.path), i.path, i.password, i.angle});
    fillSharedOptions(o, s, output, lines);
    o.richTextAttributes = s.richAttributes;
    o.pageWidth = s.paperW;
    o.pageHeight = s.paperH;
    o.imageQuality = s.quality;
    o.imageFormat = s.format;
    o.colorMode = s.colorMode;
    o.pageSizeMode = s.pageSizeMode;
    o.maximumResolution = s.maxDPI;
    o.scalePercent = s.scale;
    o.textAttributes = &s.text;
    return MergeFilesToPDF(&o) ? 0 : 1;
}
