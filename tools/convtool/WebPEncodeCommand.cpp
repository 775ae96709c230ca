// The command-line encoder: options into a WebPConfig, the input through ReadInputPicture, the
// picture's optional crop, resize and alpha treatment, then the encoding and its statistics.
// Like EncodeImageFileToWebP it encodes into memory and replaces the output file only once the
// whole file is ready.
#include "WebPCommands.h"

#include "OutputFile.h"
#include "WebPDecoder.h"
#include "WebPEncoder.h"

#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string_view>

extern "C" {
typedef int (*VP8CPUInfo)(int feature);
extern VP8CPUInfo VP8GetCPUInfo;
}

namespace {

const char* const kErrorMessages[VP8_ENC_ERROR_LAST] = {
    "OK",
    "OUT_OF_MEMORY: Out of memory allocating objects",
    "BITSTREAM_OUT_OF_MEMORY: Out of memory re-allocating byte buffer",
    "NULL_PARAMETER: NULL parameter passed to function",
    "INVALID_CONFIGURATION: configuration is invalid",
    "BAD_DIMENSION: Bad picture dimension. Maximum width and height allowed is 16383 pixels.",
    "PARTITION0_OVERFLOW: Partition #0 is too big to fit 512k.\n"
    "To reduce the size of this partition, try using less segments with the -segments option, "
    "and eventually reduce the number of header bits using -partition_limit. More details are "
    "available in the manual (`man cwebp`)",
    "PARTITION_OVERFLOW: Partition is too big to fit 16M",
    "BAD_WRITE: Picture writer returned an I/O error",
    "FILE_TOO_BIG: File would be too big to fit in 4G",
    "USER_ABORT: encoding abort requested by user",
};

// The options that set one whole-number field of the encoder's configuration.
struct IntegerOption {
    const char* name;
    int WebPConfig::*field;
};
const IntegerOption kIntegerOptions[] = {
    {"-alpha_q", &WebPConfig::alpha_quality},
    {"-m", &WebPConfig::method},
    {"-segments", &WebPConfig::segments},
    {"-size", &WebPConfig::target_size},
    {"-sns", &WebPConfig::sns_strength},
    {"-f", &WebPConfig::filter_strength},
    {"-sharpness", &WebPConfig::filter_sharpness},
    {"-partition_limit", &WebPConfig::partition_limit},
    {"-pass", &WebPConfig::pass},
    {"-alpha_method", &WebPConfig::alpha_compression},
    {"-pre", &WebPConfig::preprocessing},
};

const IntegerOption* findIntegerOption(std::string_view name) {
    for (const IntegerOption& option : kIntegerOptions)
        if (name == option.name)
            return &option;
    return nullptr;
}

void PrintShortHelp() {
    std::printf("Usage:\n\n"
                "   cwebp [options] -q quality input.png -o output.webp\n\n"
                "where quality is between 0 (poor) to 100 (very good).\n"
                "Typical value is around 80.\n\n"
                "Try -longhelp for an exhaustive list of advanced options.\n");
}

void PrintLongHelp() {
    std::printf("Usage:\n"
                " cwebp [-preset <...>] [options] in_file [-o out_file]\n\n"
                "If input size (-s) for an image is not specified, it is\n"
                "assumed to be a PNG, JPEG or TIFF file.\n"
                "options:\n"
                "  -h / -help ............ short help\n"
                "  -H / -longhelp ........ long help\n"
                "  -q <float> ............. quality factor (0:small..100:big)\n"
                "  -alpha_q <int> ......... transparency-compression quality (0..100)\n"
                "  -preset <string> ....... preset setting, one of:\n"
                "                            default, photo, picture,\n"
                "                            drawing, icon, text\n"
                "     -preset must come first, as it overwrites other parameters\n"
                "  -m <int> ............... compression method (0=fast, 6=slowest)\n"
                "  -segments <int> ........ number of segments to use (1..4)\n"
                "  -size <int> ............ target size (in bytes)\n"
                "  -psnr <float> .......... target PSNR (in dB. typically: 42)\n\n"
                "  -s <int> <int> ......... input size (width x height) for YUV\n"
                "  -sns <int> ............. spatial noise shaping (0:off, 100:max)\n"
                "  -f <int> ............... filter strength (0=off..100)\n"
                "  -sharpness <int> ....... filter sharpness (0:most .. 7:least sharp)\n"
                "  -strong ................ use strong filter instead of simple (default)\n"
                "  -nostrong .............. use simple filter instead of strong\n"
                "  -partition_limit <int> . limit quality to fit the 512k limit on\n"
                "                           the first partition (0=no degradation ... 100=full)\n"
                "  -pass <int> ............ analysis pass number (1..10)\n"
                "  -crop <x> <y> <w> <h> .. crop picture with the given rectangle\n"
                "  -resize <w> <h> ........ resize picture (after any cropping)\n"
                "  -mt .................... use multi-threading if available\n"
                "  -low_memory ............ reduce memory usage (slower encoding)\n"
                "  -map <int> ............. print map of extra info\n"
                "  -print_psnr ............ prints averaged PSNR distortion\n"
                "  -print_ssim ............ prints averaged SSIM distortion\n"
                "  -print_lsim ............ prints local-similarity distortion\n"
                "  -d <file.pgm> .......... dump the compressed output (PGM file)\n"
                "  -alpha_method <int> .... transparency-compression method (0..1)\n"
                "  -alpha_filter <string> . predictive filtering for alpha plane,\n"
                "                           one of: none, fast (default) or best\n"
                "  -alpha_cleanup ......... clean RGB values in transparent area\n"
                "  -blend_alpha <hex> ..... blend colors against background color\n"
                "                           expressed as RGB values written in\n"
                "                           hexadecimal, e.g. 0xc0e0d0 for red=0xc0\n"
                "                           green=0xe0 and blue=0xd0\n"
                "  -noalpha ............... discard any transparency information\n"
                "  -lossless .............. encode image losslessly\n"
                "  -hint <string> ......... specify image characteristics hint,\n"
                "                           one of: photo, picture or graph\n\n"
                "  -metadata <string> ..... comma separated list of metadata to\n"
                "                           copy from the input to the output if present.\n"
                "                           Valid values: all, none (default), exif, icc, xmp\n\n"
                "  -short ................. condense printed message\n"
                "  -quiet ................. don't print anything\n"
                "  -version ............... print version number and exit\n"
                "  -noasm ................. disable all assembly optimizations\n"
                "  -v ..................... verbose, e.g. print encoding/decoding times\n"
                "  -progress .............. report encoding progress\n\n"
                "Experimental Options:\n"
                "  -jpeg_like ............. roughly match expected JPEG size\n"
                "  -af .................... auto-adjust filter strength\n"
                "  -pre <int> ............. pre-processing filter\n\n");
}

int ReportProgress(int percent, const WebPPicture* picture) {
    std::printf("[%s]: %3d %%      \r", static_cast<const char*>(picture->user_data), percent);
    std::fflush(stdout);
    return 1;
}

// Statistics: one value per segment and their sum, with the sum's share of `whole`.
void PrintSegmentValues(const int values[4], int whole, int* runningTotal) {
    int total = 0;
    for (int s = 0; s < 4; ++s) {
        std::fprintf(stderr, "| %7d ", values[s]);
        total += values[s];
        if (runningTotal)
            runningTotal[s] += values[s];
    }
    std::fprintf(stderr, "| %7d  (%.1f%%)\n", total, whole > 0 ? 100.f * total / whole : 0.f);
}

void PrintSegmentLine(const int values[4]) {
    for (int s = 0; s < 4; ++s)
        std::fprintf(stderr, "| %7d ", values[s]);
    std::fprintf(stderr, "|\n");
}

void PrintLosslessInfo(const WebPAuxStats& stats, const char* description) {
    std::fprintf(stderr, "Lossless-%s compressed size: %d bytes\n", description,
                 stats.lossless_size);
    std::fprintf(stderr, "  * Header size: %d bytes, image data size: %d\n",
                 stats.lossless_hdr_size, stats.lossless_data_size);
    if (stats.lossless_features) {
        std::fprintf(stderr, "  * Lossless features used:");
        if (stats.lossless_features & 1)
            std::fprintf(stderr, " PREDICTION");
        if (stats.lossless_features & 2)
            std::fprintf(stderr, " CROSS-COLOR-TRANSFORM");
        if (stats.lossless_features & 4)
            std::fprintf(stderr, " SUBTRACT-GREEN");
        if (stats.lossless_features & 8)
            std::fprintf(stderr, " PALETTE");
        std::fprintf(stderr, "\n");
    }
    std::fprintf(stderr, "  * Precision Bits: histogram=%d transform=%d cache=%d\n",
                 stats.histogram_bits, stats.transform_bits, stats.cache_bits);
    if (stats.palette_size > 0)
        std::fprintf(stderr, "  * Palette size:   %d\n", stats.palette_size);
}

void PrintStatistics(const WebPPicture& picture, const WebPConfig& config, const char* output) {
    const WebPAuxStats& stats = *picture.stats;
    std::fprintf(stderr, "File:      %s\n", output ? output : "(not written)");
    std::fprintf(stderr, "Dimension: %d x %d%s\n", picture.width, picture.height,
                 stats.alpha_data_size > 0 ? " (with alpha)" : "");
    if (config.lossless) {
        std::fprintf(stderr, "Output:    %d bytes (%.2f bpp)\n", stats.coded_size,
                     8.f * stats.coded_size / (float(picture.width) * picture.height));
        PrintLosslessInfo(stats, "ARGB");
        return;
    }
    const int blocks = stats.block_count[0] + stats.block_count[1] + stats.block_count[2];
    std::fprintf(stderr,
                 "Output:    %d bytes Y-U-V-All-PSNR %2.2f %2.2f %2.2f   %2.2f dB\n"
                 "           (%.2f bpp)\n",
                 stats.coded_size, stats.PSNR[0], stats.PSNR[1], stats.PSNR[2], stats.PSNR[3],
                 8.f * stats.coded_size / (float(picture.width) * picture.height));
    if (blocks > 0)
        std::fprintf(stderr,
                     "block count:  intra4:     %6d  (%.2f%%)\n"
                     "              intra16:    %6d  (%.2f%%)\n"
                     "              skipped:    %6d  (%.2f%%)\n",
                     stats.block_count[0], 100.f * stats.block_count[0] / blocks,
                     stats.block_count[1], 100.f * stats.block_count[1] / blocks,
                     stats.block_count[2], 100.f * stats.block_count[2] / blocks);
    std::fprintf(stderr, "bytes used:  header:         %6d  (%.1f%%)\n", stats.header_bytes[0],
                 100.f * stats.header_bytes[0] / stats.coded_size);
    std::fprintf(stderr, "             mode-partition: %6d  (%.1f%%)\n", stats.header_bytes[1],
                 100.f * stats.header_bytes[1] / stats.coded_size);
    if (stats.alpha_data_size > 0)
        std::fprintf(stderr, "             transparency:   %6d (%.1f dB)\n", stats.alpha_data_size,
                     stats.PSNR[4]);
    int totals[4] = {0, 0, 0, 0};
    std::fprintf(stderr, " Residuals bytes  |segment 1|segment 2|segment 3|segment 4|  total\n");
    const char* const names[3] = {"  intra4-coeffs: ", " intra16-coeffs: ", "  chroma coeffs: "};
    for (int i = 0; i < 3; ++i) {
        std::fprintf(stderr, "%s", names[i]);
        PrintSegmentValues(stats.residual_bytes[i], stats.coded_size, totals);
    }
    std::fprintf(stderr, "    macroblocks:  ");
    PrintSegmentValues(stats.segment_size, blocks, nullptr);
    std::fprintf(stderr, "      quantizer:  ");
    PrintSegmentLine(stats.segment_quant);
    std::fprintf(stderr, "   filter level:  ");
    PrintSegmentLine(stats.segment_level);
}

// The per-macroblock values of -map, one row of 16 x 16 blocks per line.
void PrintExtraInfoMap(const WebPPicture& picture) {
    const int columns = (picture.width + 15) / 16;
    const int rows = (picture.height + 15) / 16;
    for (int y = 0; y < rows; ++y) {
        for (int x = 0; x < columns; ++x)
            std::fprintf(stderr, "%c", '0' + picture.extra_info[y * columns + x] % 10);
        std::fprintf(stderr, "\n");
    }
}

template <typename Number> bool ParseNumber(const char* text, Number* value, int base = 10) {
    const char* begin = text;
    if (base == 16 && begin[0] == '0' && (begin[1] == 'x' || begin[1] == 'X'))
        begin += 2;
    const char* end = text + std::strlen(text);
    std::from_chars_result r;
    if constexpr (std::is_floating_point_v<Number>)
        r = std::from_chars(begin, end, *value);
    else
        r = std::from_chars(begin, end, *value, base);
    if (r.ec != std::errc() || r.ptr != end || begin == end) {
        std::fprintf(stderr, "Error! '%s' is not a valid number.\n", text);
        return false;
    }
    return true;
}

bool ParseMetadataNames(const char* list, std::uint32_t* keep) {
    std::string_view rest(list);
    while (true) {
        const std::size_t comma = rest.find(',');
        const std::string_view name = rest.substr(0, comma);
        if (name == "all")
            *keep = kWebPMetadataEXIF | kWebPMetadataICC | kWebPMetadataXMP;
        else if (name == "none")
            *keep = 0;
        else if (name == "exif")
            *keep |= kWebPMetadataEXIF;
        else if (name == "icc")
            *keep |= kWebPMetadataICC;
        else if (name == "xmp")
            *keep |= kWebPMetadataXMP;
        else {
            std::fprintf(stderr, "Error! Unknown metadata type '%.*s'\n", int(name.size()),
                         name.data());
            return false;
        }
        if (comma == std::string_view::npos)
            return true;
        rest.remove_prefix(comma + 1);
    }
}

double SecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Everything the command holds: released in one place whatever way the run ends.
struct EncoderRun {
    WebPPicture picture;
    WebPPicture original; // kept for the distortion figures
    WebPConfig config;
    WebPMemoryWriter writer;
    ImageMetadata metadata;
    WebPAuxStats stats;
    EncoderRun() {
        std::memset(&picture, 0, sizeof picture);
        std::memset(&original, 0, sizeof original);
        std::memset(&stats, 0, sizeof stats);
        WebPMemoryWriterInit(&writer);
        InitImageMetadata(&metadata);
    }
    ~EncoderRun() {
        std::free(picture.extra_info);
        picture.extra_info = nullptr;
        WebPPictureFree(&picture);
        WebPPictureFree(&original);
        WebPMemoryWriterClear(&writer);
        FreeImageMetadata(&metadata);
    }
};

// Decodes the encoded file back to a picture for the distortion figures.
bool DecodeIntoPicture(const WebPMemoryWriter& encoded, WebPPicture* decoded) {
    int width = 0, height = 0;
    std::uint8_t* rgba = WebPDecodeRGBA(encoded.mem, encoded.size, &width, &height);
    if (!rgba)
        return false;
    decoded->width = width;
    decoded->height = height;
    decoded->use_argb = 1;
    const bool ok = WebPPictureImportRGBA(decoded, rgba, width * 4);
    WebPFree(rgba);
    return ok;
}

bool DumpDecodedPlanes(const WebPMemoryWriter& encoded, const char* path) {
    WebPDecoderConfig config;
    if (!WebPInitDecoderConfig(&config))
        return false;
    config.output.colorspace = MODE_YUVA;
    if (WebPDecode(encoded.mem, encoded.size, &config) != VP8_STATUS_OK)
        return false;
    const bool ok = SaveDecodedImage(&config.output, kDecodedPGM, path);
    WebPFreeDecBuffer(&config.output);
    return ok;
}

} // namespace

int EncoderToolMain(int argc, char** argv) {
    EncoderRun run;
    if (!WebPPictureInit(&run.picture) || !WebPPictureInit(&run.original) ||
        !WebPConfigInit(&run.config)) {
        std::fprintf(stderr, "Error! Version mismatch!\n");
        return -1;
    }
    if (argc == 1) {
        PrintShortHelp();
        return 0;
    }
    WebPConfig& config = run.config;
    WebPPicture& picture = run.picture;
    const char* input = nullptr;
    const char* output = nullptr;
    const char* dumpFile = nullptr;
    int keepAlpha = 1;
    bool blendAlpha = false;
    std::uint32_t background = 0;
    std::uint32_t keepMetadata = 0;
    int cropX = 0, cropY = 0, cropW = -1, cropH = -1;
    int resizeW = 0, resizeH = 0;
    bool crop = false, resize = false;
    bool quiet = false, shortOutput = false, verbose = false, progress = false;
    int printDistortion = -1;
    int extraInfoType = 0;

    for (int c = 1; c < argc; ++c) {
        const std::string_view arg(argv[c]);
        const int left = argc - 1 - c; // arguments after this one
        bool ok = true;
        auto needs = [&](int count) {
            if (left >= count)
                return true;
            std::fprintf(stderr, "Error! Option '%s' needs %d argument(s).\n", argv[c], count);
            ok = false;
            return false;
        };
        if (const IntegerOption* option = findIntegerOption(arg)) {
            ok = needs(1) && ParseNumber(argv[++c], &(config.*option->field));
        } else if (arg == "-h" || arg == "-help") {
            PrintShortHelp();
            return 0;
        } else if (arg == "-H" || arg == "-longhelp") {
            PrintLongHelp();
            return 0;
        } else if (arg == "-o") {
            if (needs(1))
                output = argv[++c];
        } else if (arg == "-d") {
            if (needs(1))
                dumpFile = argv[++c];
        } else if (arg == "-q") {
            ok = needs(1) && ParseNumber(argv[++c], &config.quality);
        } else if (arg == "-preset") {
            const std::string_view name(needs(1) ? argv[++c] : "default");
            WebPPreset preset = WEBP_PRESET_DEFAULT;
            if (name == "default")
                preset = WEBP_PRESET_DEFAULT;
            else if (name == "photo")
                preset = WEBP_PRESET_PHOTO;
            else if (name == "picture")
                preset = WEBP_PRESET_PICTURE;
            else if (name == "drawing")
                preset = WEBP_PRESET_DRAWING;
            else if (name == "icon")
                preset = WEBP_PRESET_ICON;
            else if (name == "text")
                preset = WEBP_PRESET_TEXT;
            else {
                std::fprintf(stderr, "Error! Unrecognized preset: %s\n", argv[c]);
                ok = false;
            }
            if (ok && !WebPConfigPreset(&config, preset, config.quality)) {
                std::fprintf(stderr, "Error! Could initialize configuration with preset.\n");
                ok = false;
            }
        } else if (arg == "-psnr") {
            ok = needs(1) && ParseNumber(argv[++c], &config.target_PSNR);
        } else if (arg == "-s") {
            ok = needs(2) && ParseNumber(argv[c + 1], &picture.width) &&
                 ParseNumber(argv[c + 2], &picture.height);
            c += 2;
        } else if (arg == "-strong") {
            config.filter_type = 1;
        } else if (arg == "-nostrong") {
            config.filter_type = 0;
        } else if (arg == "-crop") {
            ok = needs(4) && ParseNumber(argv[c + 1], &cropX) && ParseNumber(argv[c + 2], &cropY) &&
                 ParseNumber(argv[c + 3], &cropW) && ParseNumber(argv[c + 4], &cropH);
            crop = true;
            c += 4;
        } else if (arg == "-resize") {
            ok = needs(2) && ParseNumber(argv[c + 1], &resizeW) &&
                 ParseNumber(argv[c + 2], &resizeH);
            resize = true;
            c += 2;
        } else if (arg == "-mt") {
            ++config.thread_level;
        } else if (arg == "-low_memory") {
            config.low_memory = 1;
        } else if (arg == "-map") {
            ok = needs(1) && ParseNumber(argv[++c], &extraInfoType);
        } else if (arg == "-print_psnr") {
            printDistortion = 0;
        } else if (arg == "-print_ssim") {
            printDistortion = 1;
        } else if (arg == "-print_lsim") {
            printDistortion = 2;
        } else if (arg == "-alpha_filter") {
            if (needs(1)) {
                const std::string_view name(argv[++c]);
                if (name == "none")
                    config.alpha_filtering = 0;
                else if (name == "fast")
                    config.alpha_filtering = 1;
                else if (name == "best")
                    config.alpha_filtering = 2;
                else {
                    std::fprintf(stderr, "Error! Unrecognized alpha filter: %s\n", argv[c]);
                    ok = false;
                }
            }
        } else if (arg == "-alpha_cleanup") {
            keepAlpha = keepAlpha ? 2 : 0;
        } else if (arg == "-blend_alpha") {
            ok = needs(1) && ParseNumber(argv[++c], &background, 16);
            blendAlpha = true;
        } else if (arg == "-noalpha") {
            keepAlpha = 0;
        } else if (arg == "-lossless") {
            config.lossless = 1;
        } else if (arg == "-hint") {
            if (needs(1)) {
                const std::string_view name(argv[++c]);
                if (name == "photo")
                    config.image_hint = WEBP_HINT_PHOTO;
                else if (name == "picture")
                    config.image_hint = WEBP_HINT_PICTURE;
                else if (name == "graph")
                    config.image_hint = WEBP_HINT_GRAPH;
                else {
                    std::fprintf(stderr, "Error! Unrecognized image hint: %s\n", argv[c]);
                    ok = false;
                }
            }
        } else if (arg == "-metadata") {
            if (needs(1) && !ParseMetadataNames(argv[++c], &keepMetadata)) {
                PrintLongHelp();
                return -1;
            }
        } else if (arg == "-short") {
            shortOutput = true;
        } else if (arg == "-quiet") {
            quiet = true;
        } else if (arg == "-version") {
            const int version = WebPGetEncoderVersion();
            std::printf("%d.%d.%d\n", (version >> 16) & 0xff, (version >> 8) & 0xff,
                        version & 0xff);
            return 0;
        } else if (arg == "-noasm") {
            VP8GetCPUInfo = nullptr;
        } else if (arg == "-v") {
            verbose = true;
        } else if (arg == "-progress") {
            progress = true;
        } else if (arg == "-jpeg_like") {
            config.emulate_jpeg_size = 1;
        } else if (arg == "-af") {
            config.autofilter = 1;
        } else if (arg == "--") {
            if (left >= 1)
                input = argv[++c];
            break;
        } else if (!arg.empty() && arg[0] == '-') {
            std::fprintf(stderr, "Error! Unknown option '%s'\n", argv[c]);
            PrintLongHelp();
            return -1;
        } else {
            input = argv[c];
        }
        if (!ok) {
            PrintShortHelp();
            return -1;
        }
    }
    if (!input) {
        std::fprintf(stderr, "No input file specified!\n");
        PrintShortHelp();
        return -1;
    }
    // A target size or quality is reached by searching over several passes; with the single
    // pass of the default there would be no search, and the target would change nothing.
    if ((config.target_size > 0 || config.target_PSNR > 0) && config.pass == 1)
        config.pass = 6;
    if (!WebPValidateConfig(&config)) {
        std::fprintf(stderr, "Error! Invalid configuration.\n");
        return -1;
    }
    // Lossless encoding, preprocessing, cropping, resizing and blending work on RGB samples:
    // read into YUV first, the picture would already have lost colour detail.
    picture.use_argb =
        config.lossless || config.preprocessing > 0 || crop || resize || blendAlpha ? 1 : 0;

    auto start = std::chrono::steady_clock::now();
    if (!ReadInputPicture(input, &picture, keepAlpha, keepMetadata ? &run.metadata : nullptr)) {
        std::fprintf(stderr, "Error! Cannot read input picture file '%s'\n", input);
        return -1;
    }
    picture.progress_hook = progress ? ReportProgress : nullptr;
    picture.user_data = const_cast<char*>(input);
    if (verbose)
        std::fprintf(stderr, "Time to read input: %.3fs\n", SecondsSince(start));

    if (crop && !WebPPictureCrop(&picture, cropX, cropY, cropW, cropH)) {
        std::fprintf(stderr, "Error! Cannot crop picture\n");
        return -1;
    }
    if (resize && (resizeW > WEBP_MAX_DIMENSION || resizeH > WEBP_MAX_DIMENSION ||
                   !WebPPictureRescale(&picture, resizeW, resizeH))) {
        std::fprintf(stderr, "Error! Cannot resize picture\n");
        return -1;
    }
    if (blendAlpha)
        WebPBlendAlpha(&picture, background);
    if (keepAlpha == 2)
        WebPCleanupTransparentArea(&picture);
    if (printDistortion >= 0 && !WebPPictureCopy(&picture, &run.original)) {
        std::fprintf(stderr, "Error! Cannot copy temporary picture\n");
        return -1;
    }
    if (extraInfoType > 0) {
        const std::size_t blocks =
            std::size_t((picture.width + 15) / 16) * std::size_t((picture.height + 15) / 16);
        picture.extra_info_type = extraInfoType;
        picture.extra_info = static_cast<std::uint8_t*>(std::calloc(blocks, 1));
    }
    // Statistics cost a full distortion pass over the picture: only when they are printed.
    picture.stats = quiet ? nullptr : &run.stats;
    picture.writer = WebPMemoryWrite;
    picture.custom_ptr = &run.writer;
    if (!output && !quiet)
        std::fprintf(stderr, "No output file specified (no -o flag). Encoding will\n"
                             "be performed, but its results discarded.\n\n");

    start = std::chrono::steady_clock::now();
    if (!WebPEncode(&config, &picture)) {
        std::fprintf(stderr, "Error! Cannot encode picture as WebP\n");
        const int code = picture.error_code;
        std::fprintf(stderr, "Error code: %d (%s)\n", code,
                     code >= 0 && code < VP8_ENC_ERROR_LAST ? kErrorMessages[code] : "UNKNOWN");
        return -1;
    }
    if (verbose)
        std::fprintf(stderr, "Time to encode picture: %.3fs\n", SecondsSince(start));

    if (output) {
        conversion::OutputFile target;
        FILE* file = target.open(output);
        if (!file) {
            std::fprintf(stderr, "Error! Cannot open output file '%s' (%s)\n", output,
                         target.errorText());
            return -1;
        }
        std::uint32_t written = 0;
        const bool complete = WriteWebPFileWithMetadata(file, &picture, &run.writer, &run.metadata,
                                                        keepMetadata, &written);
        // The cause of a failed write, read before anything else can change errno.
        const int cause = complete ? 0 : (errno ? errno : EIO);
        if (!complete || !target.commit()) {
            std::fprintf(stderr, "Error writing WebP file '%s'! (%s)\n", output,
                         std::strerror(complete ? errno : cause));
            return -1;
        }
        if (!quiet && !shortOutput && verbose)
            std::fprintf(stderr, "Saved output file (%d bytes): %s\n", int(run.writer.size),
                         output);
    }
    if (dumpFile && !DumpDecodedPlanes(run.writer, dumpFile))
        std::fprintf(stderr, "Warning, couldn't dump picture %s\n", dumpFile);

    if (!quiet) {
        if (shortOutput && !config.lossless)
            std::printf("%7d %2.2f\n", run.stats.coded_size, run.stats.PSNR[3]);
        else if (shortOutput)
            std::printf("%7d\n", run.stats.coded_size);
        else
            PrintStatistics(picture, config, output);
        if (extraInfoType > 0 && picture.extra_info)
            PrintExtraInfoMap(picture);
        if (printDistortion >= 0) {
            WebPPicture decoded;
            float values[5] = {0, 0, 0, 0, 0};
            if (WebPPictureInit(&decoded) && DecodeIntoPicture(run.writer, &decoded) &&
                WebPPictureDistortion(&run.original, &decoded, printDistortion, values)) {
                const char* const names[3] = {"PSNR", "SSIM", "LSIM"};
                std::fprintf(stderr, "%s: B:%.2f G:%.2f R:%.2f A:%.2f  Total:%.2f\n",
                             names[printDistortion], values[0], values[1], values[2], values[3],
                             values[4]);
            } else {
                std::fprintf(stderr, "Error while computing the distortion.\n");
            }
            WebPPictureFree(&decoded);
        }
    }
    return 0;
}
