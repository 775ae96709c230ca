#include "RenderCommands.h"

#include "CommandArguments.h"
#include "ConversionEntries.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

// "a,b,c,d" into exactly `count` numbers.
bool parseList(const char* text, std::size_t count, double* out) {
    if (!text)
        return false;
    std::string rest = text;
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t comma = rest.find(',');
        const std::string item = rest.substr(0, comma);
        if (!ParseDoubleArgument(item.c_str(), &out[i]))
            return false;
        if (i + 1 < count && comma == std::string::npos)
            return false;
        rest = comma == std::string::npos ? std::string() : rest.substr(comma + 1);
    }
    return rest.empty();
}

// "#rrggbb" or "#rrggbbaa".
bool parseColor(const char* text, WatermarkColor* color) {
    if (!text || text[0] != '#' || (std::strlen(text) != 7 && std::strlen(text) != 9))
        return false;
    unsigned v[4] = {0, 0, 0, 255};
    for (std::size_t i = 0; i * 2 + 1 < std::strlen(text); ++i) {
        char part[3] = {text[1 + i * 2], text[2 + i * 2], 0};
        char* end = nullptr;
        v[i] = unsigned(std::strtoul(part, &end, 16));
        if (!end || *end)
            return false;
    }
    *color = {v[0] / 255.0, v[1] / 255.0, v[2] / 255.0, v[3] / 255.0};
    return true;
}

// --unit's value: a unit it does not know is said to be one, with the units it knows.
OptionTaken unitOption(const char* command, const char* text, std::int32_t* unit);

bool parseUnit(const char* text, std::int32_t* unit) {
    static const struct {
        const char* name;
        std::int32_t unit;
    } names[] = {{"percent", kLengthPercent}, {"px", kLengthPixels},     {"pixels", kLengthPixels},
                 {"in", kLengthInches},       {"inches", kLengthInches}, {"cm", kLengthCentimetres},
                 {"mm", kLengthMillimetres},  {"pt", kLengthPoints},     {"points", kLengthPoints}};
    if (!text)
        return false;
    for (const auto& n : names)
        if (!std::strcmp(text, n.name)) {
            *unit = n.unit;
            return true;
        }
    // The library's own codes, as the help names them.
    long long code = 0;
    if (ParseLongArgument(text, &code) && code >= kLengthPercent && code <= kLengthPoints) {
        *unit = std::int32_t(code);
        return true;
    }
    return false;
}

OptionTaken unitOption(const char* command, const char* text, std::int32_t* unit) {
    if (!text)
        return OptionTaken::Refused;
    if (parseUnit(text, unit))
        return OptionTaken::WithValue;
    std::fprintf(stderr,
                 "convtool %s: unknown unit \"%s\" for --unit: percent, px, in, cm, mm or pt, "
                 "or their codes 1 to 6\n",
                 command, text);
    return OptionTaken::Reported;
}

// --quality's value: out of 0.0 to 1.0 it is refused with a message.
OptionTaken qualityOption(const char* command, const char* text, double* quality) {
    double q = 0;
    if (!ParseDoubleArgument(text, &q))
        return OptionTaken::Refused;
    if (!QualityInRange(command, "--quality", q))
        return OptionTaken::Reported;
    *quality = q;
    return OptionTaken::WithValue;
}

std::int32_t toInt32(long long v) {
    return v < INT32_MIN || v > INT32_MAX ? -1 : std::int32_t(v);
}

void renderUsage(FILE* out) {
    std::fprintf(
        out,
        "usage: convtool render IN OUT --format N [options]\n"
        "  --format N            output format code (4 JPEG, 7 PNG, 10 TIFF, 13 CMYK TIFF ...)\n"
        "  --quality Q           0.0-1.0 (default 0.8)\n"
        "  --width W --height H  target size in --unit (0 leaves a side to the aspect ratio)\n"
        "  --unit U              percent, px, in, cm, mm or pt, or their codes 1 to 6\n"
        "                        (default px)\n"
        "  --keep-aspect         one scale for both sides\n"
        "  --fit inside|canvas   fit inside the target, or cut a centred canvas of that size\n"
        "  --no-resample         keep the pixels, change only the recorded resolution\n"
        "  --enlarge             allow a target larger than the source\n"
        "  --sharpen             sharpen after scaling\n"
        "  --dpi D               resolution to record (default the source's)\n"
        "  --rotate DEG          counter-clockwise quarter turns (90, 180, 270)\n"
        "  --flip-h, --flip-v    mirror left to right, top to bottom\n"
        "  --color-mode M        0 source, 1 RGB, 2 CMYK, 3 grey\n"
        "  --keep-metadata       copy the source's metadata\n"
        "Watermarks (boxes as X0,Y0,X1,Y1 on the reference area, origin lower left):\n"
        "  --reference W,H       the reference area (default 550,550)\n"
        "  --text T --text-box B --font PSNAME --font-size N --text-color #rrggbb[aa]\n"
        "  --text-mode M (0 fill, 1 stroke, 2 both) --stroke-width N --text-alpha A\n"
        "  --spacing S --angle DEG --shadow #rrggbb[aa] --shadow-blur N --shadow-offset X,Y\n"
        "  --image FILE --image-box B --image-alpha A --image-scale S\n");
}

} // namespace

int RenderCommand(int argc, char** argv) {
    ImageJobOptions o;
    o.renderSize.resample = true;
    o.watermark.referenceWidth = o.watermark.referenceHeight = 550;
    o.watermark.fontSize = 24;
    int colorMode = 0;
    bool formatGiven = false;
    const auto option = [&](const std::string& a, const char* next) {
        long long n = 0;
        double d = 0, list[4] = {0, 0, 0, 0};
        WatermarkSettings& w = o.watermark;
        bool ok = true, takes = true;
        if (a == "--format" && ParseLongArgument(next, &n)) {
            o.format = toInt32(n);
            formatGiven = true;
        } else if (a == "--quality") {
            return qualityOption("render", next, &o.quality);
        } else if (a == "--width" && ParseDoubleArgument(next, &d)) {
            o.renderSize.width = d;
        } else if (a == "--height" && ParseDoubleArgument(next, &d)) {
            o.renderSize.height = d;
        } else if (a == "--unit") {
            return unitOption("render", next, &o.renderSize.unit);
        } else if (a == "--fit" && next) {
            ok = !std::strcmp(next, "inside") || !std::strcmp(next, "canvas");
            o.renderSize.fitMode = !std::strcmp(next, "inside") ? 2 : 3;
        } else if (a == "--dpi" && ParseLongArgument(next, &n)) {
            o.renderSize.dpi = n;
        } else if (a == "--rotate" && ParseLongArgument(next, &n)) {
            o.rotationDegrees = n;
        } else if (a == "--color-mode" && ParseLongArgument(next, &n)) {
            colorMode = int(toInt32(n));
        } else if (a == "--reference" && parseList(next, 2, list)) {
            w.referenceWidth = list[0];
            w.referenceHeight = list[1];
        } else if (a == "--text" && next) {
            w.text = next;
            o.applyTextWatermark = true;
        } else if (a == "--text-box" && parseList(next, 4, list)) {
            w.textX0 = list[0], w.textY0 = list[1], w.textX1 = list[2], w.textY1 = list[3];
        } else if (a == "--font" && next) {
            w.font = next;
        } else if (a == "--font-size" && ParseLongArgument(next, &n)) {
            w.fontSize = n;
        } else if (a == "--text-color") {
            WatermarkColor c;
            ok = parseColor(next, &c);
            w.textColor = c;
        } else if (a == "--text-mode" && ParseLongArgument(next, &n)) {
            w.textDrawingMode = toInt32(n);
        } else if (a == "--stroke-width" && ParseLongArgument(next, &n)) {
            w.strokeWidth = n;
        } else if (a == "--text-alpha" && ParseDoubleArgument(next, &d)) {
            w.textAlpha = d;
        } else if (a == "--spacing" && ParseDoubleArgument(next, &d)) {
            w.characterSpacing = d;
        } else if (a == "--angle" && ParseLongArgument(next, &n)) {
            w.textAngle = n;
        } else if (a == "--shadow") {
            WatermarkColor c;
            ok = parseColor(next, &c);
            w.shadowColor = c;
            w.hasShadow = true;
        } else if (a == "--shadow-blur" && ParseLongArgument(next, &n)) {
            w.shadowBlur = n;
        } else if (a == "--shadow-offset" && parseList(next, 2, list)) {
            w.shadowOffsetX = (long long)list[0];
            w.shadowOffsetY = (long long)list[1];
        } else if (a == "--image" && next) {
            w.image = next;
            o.applyImageWatermark = true;
        } else if (a == "--image-box" && parseList(next, 4, list)) {
            w.imageX0 = list[0], w.imageY0 = list[1], w.imageX1 = list[2], w.imageY1 = list[3];
        } else if (a == "--image-alpha" && ParseDoubleArgument(next, &d)) {
            w.imageAlpha = d;
        } else if (a == "--image-scale" && ParseDoubleArgument(next, &d)) {
            w.imageScale = d;
        } else {
            takes = false;
            if (a == "--keep-aspect")
                o.renderSize.keepAspectRatio = true;
            else if (a == "--no-resample")
                o.renderSize.resample = false;
            else if (a == "--enlarge")
                o.renderSize.allowEnlarging = true;
            else if (a == "--sharpen")
                o.renderSize.sharpen = true;
            else if (a == "--flip-h")
                o.flipFlags |= kFlipHorizontal;
            else if (a == "--flip-v")
                o.flipFlags |= kFlipVertical;
            else if (a == "--keep-metadata")
                o.keepMetadata = true;
            else
                return OptionTaken::No;
        }
        return optionTaken(ok, takes);
    };
    if (const int status =
            ReadImageJobArguments(argc, argv, "render", renderUsage, o, formatGiven, option);
        status >= 0)
        return status;
    o.colorMode = colorMode;
    return RenderImageFile(&o) ? 0 : 1;
}

namespace {

std::atomic<bool> interrupted{false};

void onInterrupt(int) {
    interrupted = true;
}

// One line per page on standard output; an interrupt (Ctrl-C) ends the run between pages.
class LineProgress : public ConversionProgress {
public:
    bool isConversionCancelled() override { return interrupted; }
    void progress(std::int64_t page) override {
        std::printf("page %lld\n", static_cast<long long>(page));
        std::fflush(stdout);
    }
};

void pdfUsage(FILE* out) {
    std::fprintf(
        out,
        "usage: convtool pdf-to-images IN.pdf OUTFOLDER --format N [options]\n"
        "  --format N          output format code (4 JPEG, 7 PNG, 10 TIFF, 13 CMYK TIFF,\n"
        "                      23 one multi-page TIFF ...)\n"
        "  --dpi D             resolution (default 72)\n"
        "  --quality Q         0.0-1.0 (default 0.8)\n"
        "  --color-mode M      0 or 1 RGB, 2 CMYK, 3 grey\n"
        "  --pages F[-L]       one page, or pages F to L (L 0: to the end)\n"
        "  --fit-width W --fit-height H [--unit U]\n"
        "                      fit each page to the size (0 leaves a side to the aspect ratio)\n"
        "  --unit U            unit of the fit size: percent, px, in, cm, mm or pt, or their\n"
        "                      codes 1 to 6 (default px)\n"
        "  --base NAME         base of the file names (default the input's name)\n"
        "  --password P        password of an encrypted document\n"
        "  --replace           replace files of the same name instead of numbering new ones\n"
        "  --page-offset       report page numbers counted from the first page of the range\n"
        "Prints \"page N\" as each page starts; Ctrl-C stops between pages.\n");
}

} // namespace

int PDFToImagesCommand(int argc, char** argv) {
    ImageJobOptions o;
    LineProgress progress;
    o.progressTarget = &progress;
    o.progressSelector = true;
    bool formatGiven = false;
    const auto option = [&](const std::string& a, const char* next) {
        long long n = 0;
        double d = 0;
        bool ok = true, takes = true;
        if (a == "--format" && ParseLongArgument(next, &n)) {
            o.format = toInt32(n);
            formatGiven = true;
        } else if (a == "--dpi" && ParseLongArgument(next, &n)) {
            o.dpi = n;
        } else if (a == "--quality") {
            return qualityOption("pdf-to-images", next, &o.quality);
        } else if (a == "--color-mode" && ParseLongArgument(next, &n)) {
            o.colorMode = toInt32(n);
        } else if (a == "--pages" && next) {
            const std::string range = next;
            const std::size_t dash = range.find('-');
            long long first = 0, last = 0;
            ok = ParseLongArgument(range.substr(0, dash).c_str(), &first) &&
                 (dash == std::string::npos ||
                  ParseLongArgument(range.substr(dash + 1).c_str(), &last));
            if (ok && !PageRangeRunsForward("pdf-to-images", first, last))
                return OptionTaken::Reported;
            o.firstPage = first;
            o.lastPage = last;
            o.pageRangeMode = dash == std::string::npos ? kPageRangeSingle : kPageRangeFromTo;
        } else if (a == "--fit-width" && ParseDoubleArgument(next, &d)) {
            o.renderSize.width = d;
            o.usePageSize = true;
        } else if (a == "--fit-height" && ParseDoubleArgument(next, &d)) {
            o.renderSize.height = d;
            o.usePageSize = true;
        } else if (a == "--unit") {
            return unitOption("pdf-to-images", next, &o.renderSize.unit);
        } else if (a == "--base" && next) {
            o.outputBaseName = next;
        } else if (a == "--password" && next) {
            o.password = next;
        } else {
            takes = false;
            if (a == "--replace")
                o.replaceExisting = true;
            else if (a == "--page-offset")
                o.progressPageOffset = true;
            else
                return OptionTaken::No;
        }
        return optionTaken(ok, takes);
    };
    if (const int status =
            ReadImageJobArguments(argc, argv, "pdf-to-images", pdfUsage, o, formatGiven, option);
        status >= 0)
        return status;
    std::error_code ec;
    if (!std::filesystem::is_directory(o.outputURL, ec)) {
        std::fprintf(stderr, "convtool pdf-to-images: %s is not a folder\n", o.outputURL.c_str());
        return 1;
    }
    std::signal(SIGINT, onInterrupt);
    const bool ok = ConvertPDFToImages(&o);
    std::signal(SIGINT, SIG_DFL);
    if (interrupted) {
        std::fprintf(stderr, "convtool pdf-to-images: stopped\n");
        return 130;
    }
    return ok ? 0 : 1;
}

// Fontconfig 2.14 loses a few bytes while parsing its own configuration, once a process.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\n";
}
