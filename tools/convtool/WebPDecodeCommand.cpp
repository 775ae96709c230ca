#include "WebPCommands.h"

#include "DecoderToolSettings.h"
#include "WebPDecoder.h"

#include <charconv>
#include <chrono>
#include <cstdlib>
#include <cstring>

// The decoder's probe of the processor's features; clearing it leaves only portable code.
extern "C" {
typedef int (*VP8CPUInfo)(int feature);
extern VP8CPUInfo VP8GetCPUInfo;
}

namespace {

const char* const kStatusNames[] = {
    "OK",        "OUT_OF_MEMORY", "INVALID_PARAM",   "BITSTREAM_ERROR", "UNSUPPORTED_FEATURE",
    "SUSPENDED", "USER_ABORT",    "NOT_ENOUGH_DATA",
};
const char* const kFormatNames[] = {"unspecified", "lossy", "lossless"};

// The options that choose the output form.
struct FormatOption {
    const char* name;
    DecodedImageFormat format;
};
const FormatOption kFormatOptions[] = {
    {"-pam", kDecodedPAM},
    {"-ppm", kDecodedPPM},
    {"-bmp", kDecodedBMP},
    {"-tiff", kDecodedTIFF},
    {"-pgm", kDecodedPGM},
    {"-yuv", kDecodedRawYUV},
    {"-alpha", kDecodedAlphaPlanePGM},
};

const FormatOption* findFormatOption(const char* name) {
    for (const FormatOption& option : kFormatOptions)
        if (!std::strcmp(name, option.name))
            return &option;
    return nullptr;
}

void PrintUsage() {
    std::printf("Usage: dwebp in_file [options] [-o out_file]\n\n"
                "Decodes the WebP image file to PNG format [Default]\n"
                "Use following options to convert into alternate image formats:\n"
                "  -pam ......... save the raw RGBA samples as a color PAM\n"
                "  -ppm ......... save the raw RGB samples as a color PPM\n"
                "  -bmp ......... save as uncompressed BMP format\n"
                "  -tiff ........ save as uncompressed TIFF format\n"
                "  -pgm ......... save the raw YUV samples as a grayscale PGM\n"
                "                 file with IMC4 layout\n"
                "  -yuv ......... save the raw YUV samples in flat layout\n"
                "\n"
                " Other options are:\n"
                "  -version ..... print version number and exit\n"
                "  -nofancy ..... don't use the fancy YUV420 upscaler\n"
                "  -nofilter .... disable in-loop filtering\n"
                "  -nodither .... disable dithering\n"
                "  -dither <d> .. dithering strength (in 0..100)\n"
                "  -mt .......... use multi-threading\n"
                "  -crop <x> <y> <w> <h> ... crop output with the given rectangle\n"
                "  -scale <w> <h> .......... scale the output (*after* any cropping)\n"
                "  -alpha ....... only save the alpha plane\n"
                "  -incremental . use incremental decoding (useful for tests)\n"
                "  -h ........... this help message\n"
                "  -v ........... verbose (e.g. print encoding/decoding times)\n"
                "  -noasm ....... disable all assembly optimizations\n");
}

// A whole decimal or 0x-prefixed number, else 0 and `ok` cleared.
int ParseInt(const char* text, bool* ok) {
    int value = 0;
    int base = 10;
    const char* begin = text;
    if (begin[0] == '0' && (begin[1] == 'x' || begin[1] == 'X')) {
        base = 16;
        begin += 2;
    }
    const char* end = text + std::strlen(text);
    const auto [ptr, ec] = std::from_chars(begin, end, value, base);
    if (ec != std::errc() || ptr != end || begin == end) {
        std::fprintf(stderr, "Error! '%s' is not a number.\n", text);
        *ok = false;
        return 0;
    }
    return value;
}

double SecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

} // namespace

int DecoderToolMain(int argc, char** argv) {
    WebPDecoderConfig config;
    if (!WebPInitDecoderConfig(&config)) {
        std::fprintf(stderr, "Library version mismatch!\n");
        return -1;
    }
    if (argc < 2) {
        std::fprintf(stderr, "missing input file!!\n");
        PrintUsage();
        return -1;
    }
    const char* input = nullptr;
    const char* output = nullptr;
    DecodedImageFormat format = kDecodedPNG;
    bool incremental = false;
    bool verbose = false;
    bool numbersOk = true;
    for (int c = 1; c < argc; ++c) {
        const char* arg = argv[c];
        const bool more = c < argc - 1;
        if (const FormatOption* option = findFormatOption(arg)) {
            format = option->format;
        } else if (!std::strcmp(arg, "-h") || !std::strcmp(arg, "-help")) {
            PrintUsage();
            return 0;
        } else if (!std::strcmp(arg, "-o") && more) {
            output = argv[++c];
        } else if (!std::strcmp(arg, "-version")) {
            const int version = WebPGetDecoderVersion();
            std::printf("%d.%d.%d\n", (version >> 16) & 0xff, (version >> 8) & 0xff,
                        version & 0xff);
            return 0;
        } else if (!std::strcmp(arg, "-nofancy")) {
            config.options.no_fancy_upsampling = 1;
        } else if (!std::strcmp(arg, "-nofilter")) {
            config.options.bypass_filtering = 1;
        } else if (!std::strcmp(arg, "-nodither")) {
            config.options.dithering_strength = 0;
        } else if (!std::strcmp(arg, "-dither") && more) {
            config.options.dithering_strength = ParseInt(argv[++c], &numbersOk);
        } else if (!std::strcmp(arg, "-mt")) {
            config.options.use_threads = 1;
        } else if (!std::strcmp(arg, "-crop") && c < argc - 4) {
            config.options.use_cropping = 1;
            config.options.crop_left = ParseInt(argv[++c], &numbersOk);
            config.options.crop_top = ParseInt(argv[++c], &numbersOk);
            config.options.crop_width = ParseInt(argv[++c], &numbersOk);
            config.options.crop_height = ParseInt(argv[++c], &numbersOk);
        } else if (!std::strcmp(arg, "-scale") && c < argc - 2) {
            config.options.use_scaling = 1;
            config.options.scaled_width = ParseInt(argv[++c], &numbersOk);
            config.options.scaled_height = ParseInt(argv[++c], &numbersOk);
        } else if (!std::strcmp(arg, "-v")) {
            verbose = true;
        } else if (!std::strcmp(arg, "-noasm")) {
            VP8GetCPUInfo = nullptr;
        } else if (!std::strcmp(arg, "-incremental")) {
            incremental = true;
        } else if (!std::strcmp(arg, "--")) {
            if (more)
                input = argv[++c];
            break;
        } else if (arg[0] == '-') {
            std::fprintf(stderr, "Unknown option '%s'\n", arg);
            PrintUsage();
            return -1;
        } else {
            input = arg;
        }
        if (!numbersOk) {
            PrintUsage();
            return -1;
        }
    }
    setDecoderToolVerbose(verbose);
    if (!input) {
        std::fprintf(stderr, "missing input file!!\n");
        PrintUsage();
        return -1;
    }

    const std::uint8_t* data = nullptr;
    std::size_t size = 0;
    if (!ReadFileToMemory(input, &data, &size))
        return -1;
    VP8StatusCode status = WebPGetFeatures(data, size, &config.input);
    if (status == VP8_STATUS_OK) {
        if (config.input.has_animation)
            std::fprintf(stderr, "Error! Decoding of an animated WebP file is not supported.\n"
                                 "       Use webpmux to extract the individual frames or\n"
                                 "       vwebp to view this image.\n");
        config.output.colorspace = decodedColorMode(format, config.input.has_alpha);
        const auto start = std::chrono::steady_clock::now();
        if (incremental) {
            WebPIDecoder* decoder = WebPIDecode(nullptr, 0, &config);
            if (!decoder) {
                std::fprintf(stderr, "Failed during WebPINewDecoder().\n");
                status = VP8_STATUS_OUT_OF_MEMORY;
            } else {
                status = WebPIUpdate(decoder, data, size);
                WebPIDelete(decoder);
            }
        } else {
            status = WebPDecode(data, size, &config);
        }
        if (verbose)
            std::fprintf(stderr, "Time to decode picture: %.3fs\n", SecondsSince(start));
    }
    std::free(const_cast<std::uint8_t*>(data));

    int result = 0;
    if (status != VP8_STATUS_OK) {
        std::fprintf(stderr, "Decoding of %s failed.\n", input);
        const int code = int(status);
        std::fprintf(stderr, "Status: %d (%s)\n", code,
                     code >= 0 && code < 8 ? kStatusNames[code] : "UNKNOWN");
        result = -1;
    } else {
        const int formatIndex =
            config.input.format >= 0 && config.input.format <= 2 ? config.input.format : 0;
        const WebPDecBuffer& buffer = config.output;
        if (output) {
            std::fprintf(stderr, "Decoded %s. Dimensions: %d x %d %s. Format: %s. Now saving...\n",
                         input, buffer.width, buffer.height,
                         config.input.has_alpha ? " (with alpha)" : "", kFormatNames[formatIndex]);
            result = SaveDecodedImage(&buffer, format, output) ? 0 : -1;
        } else {
            std::fprintf(stderr, "File %s can be decoded (dimensions: %d x %d %s. Format: %s).\n",
                         input, buffer.width, buffer.height,
                         config.input.has_alpha ? " (with alpha)" : "", kFormatNames[formatIndex]);
            std::fprintf(stderr, "Nothing written; use -o flag to save the result as e.g. PNG.\n");
        }
    }
    WebPFreeDecBuffer(&config.output);
    return result;
}
