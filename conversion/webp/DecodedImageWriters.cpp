// The eight output forms of decoded WebP images. Every writer checks the buffer's colour mode
// and walks rows by the buffer's own strides, so a buffer laid out with padding (or handed in
// the wrong mode) is never read past its end.
#include "ConversionLog.h"
#include "DecoderToolSettings.h"
#include "OutputFile.h"
#include "WebPDecoder.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csetjmp>
#include <cstring>
#include <png.h>

namespace {

std::atomic<bool> gVerbose{false};

bool isRGBMode(const WebPDecBuffer* buffer) {
    return buffer && WebPIsRGBMode(buffer->colorspace);
}

bool writeBytes(FILE* output, const void* data, std::size_t size) {
    return size == 0 || std::fwrite(data, size, 1, output) == 1;
}

bool writeLE(std::uint8_t* at, std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i)
        at[i] = std::uint8_t(value >> (8 * i));
    return true;
}

// RGB rows of `rowBytes` from the buffer, one write per row.
bool writeRGBRows(FILE* output, const WebPDecBuffer* buffer, std::size_t rowBytes) {
    const WebPRGBABuffer& rgba = buffer->u.RGBA;
    for (int y = 0; y < buffer->height; ++y)
        if (!writeBytes(output, rgba.rgba + std::size_t(y) * std::size_t(rgba.stride), rowBytes))
            return false;
    return true;
}

int samplesOf(WEBP_CSP_MODE mode) {
    switch (mode) {
    case MODE_RGB:
    case MODE_BGR:
        return 3;
    case MODE_RGBA:
    case MODE_BGRA:
    case MODE_rgbA:
    case MODE_bgrA:
    case MODE_ARGB:
    case MODE_Argb:
        return 4;
    default:
        return 0;
    }
}

// An RGB buffer whose rows hold width x samples bytes within its stride and its size.
bool rgbLayoutValid(const WebPDecBuffer* buffer, int samples) {
    if (!buffer || buffer->width <= 0 || buffer->height <= 0 || !buffer->u.RGBA.rgba)
        return false;
    const std::uint64_t row = std::uint64_t(buffer->width) * std::uint64_t(samples);
    const WebPRGBABuffer& rgba = buffer->u.RGBA;
    return rgba.stride > 0 && std::uint64_t(rgba.stride) >= row &&
           std::uint64_t(rgba.stride) * std::uint64_t(buffer->height - 1) + row <= rgba.size;
}

bool planeValid(const std::uint8_t* plane, int stride, std::size_t size, int width, int height) {
    return plane && stride >= width &&
           std::uint64_t(stride) * std::uint64_t(height - 1) + std::uint64_t(width) <= size;
}

bool yuvLayoutValid(const WebPDecBuffer* buffer) {
    if (!buffer || WebPIsRGBMode(buffer->colorspace) || buffer->width <= 0 || buffer->height <= 0)
        return false;
    const WebPYUVABuffer& yuv = buffer->u.YUVA;
    const int w = buffer->width, h = buffer->height;
    const int uvW = (w + 1) / 2, uvH = (h + 1) / 2;
    return planeValid(yuv.y, yuv.y_stride, yuv.y_size, w, h) &&
           planeValid(yuv.u, yuv.u_stride, yuv.u_size, uvW, uvH) &&
           planeValid(yuv.v, yuv.v_stride, yuv.v_size, uvW, uvH) &&
           (!yuv.a || planeValid(yuv.a, yuv.a_stride, yuv.a_size, w, h));
}

bool writePlaneRows(FILE* output, const std::uint8_t* plane, int stride, int width, int height,
                    bool padToEven) {
    static const std::uint8_t zero = 0;
    for (int y = 0; y < height; ++y) {
        if (!writeBytes(output, plane + std::size_t(y) * std::size_t(stride), std::size_t(width)))
            return false;
        if (padToEven && (width & 1) && !writeBytes(output, &zero, 1))
            return false;
    }
    return true;
}

// An uncompressed, single-strip TIFF with a fixed 210-byte header.
bool writeTIFF(FILE* output, const WebPDecBuffer* buffer) {
    const WEBP_CSP_MODE mode = buffer->colorspace;
    if (mode != MODE_RGB && mode != MODE_rgbA && mode != MODE_RGBA)
        return false;
    const int samples = samplesOf(mode);
    const bool alpha = samples == 4;
    if (!rgbLayoutValid(buffer, samples) || buffer->width > 0xFFFF || buffer->height > 0xFFFF)
        return false;
    const std::uint64_t pixelBytes =
        std::uint64_t(buffer->width) * std::uint64_t(buffer->height) * std::uint64_t(samples);
    if (pixelBytes > 0xFFFFFFFFu - 210)
        return false;
    std::uint8_t header[210];
    std::memset(header, 0, sizeof header);
    header[0] = header[1] = 'I';
    writeLE(header + 2, 42, 2);
    writeLE(header + 4, 8, 4);
    writeLE(header + 8, alpha ? 15 : 14, 2);
    struct Entry {
        std::uint16_t tag, type;
        std::uint32_t count, value;
    };
    // Extra sample 1: colours premultiplied by alpha (what MODE_rgbA delivers); 2: unassociated.
    const Entry entries[15] = {
        {256, 3, 1, std::uint32_t(buffer->width)},
        {257, 3, 1, std::uint32_t(buffer->height)},
        {258, 3, std::uint32_t(samples), 194},
        {259, 3, 1, 1},
        {262, 3, 1, 2},
        {273, 4, 1, 210},
        {274, 3, 1, 1},
        {277, 3, 1, std::uint32_t(samples)},
        {278, 3, 1, std::uint32_t(buffer->height)},
        {279, 4, 1, std::uint32_t(pixelBytes)},
        {282, 5, 1, 202},
        {283, 5, 1, 202},
        {284, 3, 1, 1},
        {296, 3, 1, 2},
        {338, 3, 1, mode == MODE_RGBA ? 2u : 1u},
    };
    for (int i = 0; i < 15; ++i) {
        std::uint8_t* at = header + 10 + 12 * i;
        writeLE(at, entries[i].tag, 2);
        writeLE(at + 2, entries[i].type, 2);
        writeLE(at + 4, entries[i].count, 4);
        writeLE(at + 8, entries[i].value, 4);
    }
    if (!alpha)
        std::memset(header + 178, 0, 4); // the directory ends after 14 entries
    for (int i = 0; i < 4; ++i)
        writeLE(header + 194 + 2 * i, 8, 2);
    writeLE(header + 202, 72, 4);
    writeLE(header + 206, 1, 4);
    return writeBytes(output, header, sizeof header) &&
           writeRGBRows(output, buffer, std::size_t(buffer->width) * std::size_t(samples));
}

bool writeBMP(FILE* output, const WebPDecBuffer* buffer) {
    const WEBP_CSP_MODE mode = buffer->colorspace;
    if (mode != MODE_BGR && mode != MODE_BGRA)
        return false;
    const int samples = samplesOf(mode);
    if (!rgbLayoutValid(buffer, samples))
        return false;
    const std::uint64_t rowBytes = std::uint64_t(buffer->width) * std::uint64_t(samples);
    const std::uint64_t padding = (4 - rowBytes % 4) % 4;
    const std::uint64_t fileSize = (rowBytes + padding) * std::uint64_t(buffer->height) + 54;
    if (fileSize > 0xFFFFFFFFu)
        return false;
    std::uint8_t header[54];
    std::memset(header, 0, sizeof header);
    header[0] = 'B';
    header[1] = 'M';
    writeLE(header + 2, std::uint32_t(fileSize), 4);
    writeLE(header + 10, 54, 4);
    writeLE(header + 14, 40, 4);
    writeLE(header + 18, std::uint32_t(buffer->width), 4);
    writeLE(header + 22, std::uint32_t(-buffer->height), 4); // negative: rows top to bottom
    writeLE(header + 26, 1, 2);
    writeLE(header + 28, mode == MODE_BGR ? 24 : 32, 2);
    writeLE(header + 38, 2400, 4);
    writeLE(header + 42, 2400, 4);
    if (!writeBytes(output, header, sizeof header))
        return false;
    static const std::uint8_t zeros[3] = {0, 0, 0};
    const WebPRGBABuffer& rgba = buffer->u.RGBA;
    for (int y = 0; y < buffer->height; ++y)
        if (!writeBytes(output, rgba.rgba + std::size_t(y) * std::size_t(rgba.stride),
                        std::size_t(rowBytes)) ||
            !writeBytes(output, zeros, std::size_t(padding)))
            return false;
    return true;
}

// Y rows, then U and V rows side by side, then alpha rows, as one grey image.
bool writePlanesPGM(FILE* output, const WebPDecBuffer* buffer) {
    if (!yuvLayoutValid(buffer))
        return false;
    const WebPYUVABuffer& yuv = buffer->u.YUVA;
    const int w = buffer->width, h = buffer->height;
    const int uvW = (w + 1) / 2, uvH = (h + 1) / 2;
    const int height = h + uvH + (yuv.a ? h : 0);
    if (std::fprintf(output, "P5\n%d %d\n255\n", (w + 1) & ~1, height) < 0 ||
        !writePlaneRows(output, yuv.y, yuv.y_stride, w, h, true))
        return false;
    for (int y = 0; y < uvH; ++y)
        if (!writeBytes(output, yuv.u + std::size_t(y) * std::size_t(yuv.u_stride),
                        std::size_t(uvW)) ||
            !writeBytes(output, yuv.v + std::size_t(y) * std::size_t(yuv.v_stride),
                        std::size_t(uvW)))
            return false;
    return !yuv.a || writePlaneRows(output, yuv.a, yuv.a_stride, w, h, true);
}

bool writeRawYUV(FILE* output, const WebPDecBuffer* buffer) {
    if (!yuvLayoutValid(buffer))
        return false;
    const WebPYUVABuffer& yuv = buffer->u.YUVA;
    const int w = buffer->width, h = buffer->height;
    const int uvW = (w + 1) / 2, uvH = (h + 1) / 2;
    return writePlaneRows(output, yuv.y, yuv.y_stride, w, h, false) &&
           writePlaneRows(output, yuv.u, yuv.u_stride, uvW, uvH, false) &&
           writePlaneRows(output, yuv.v, yuv.v_stride, uvW, uvH, false) &&
           (!yuv.a || writePlaneRows(output, yuv.a, yuv.a_stride, w, h, false));
}

bool writeAlphaPlane(FILE* output, const WebPDecBuffer* buffer) {
    if (!yuvLayoutValid(buffer) || !buffer->u.YUVA.a) {
        ConversionLogf("Error! The decoded image has no alpha plane to write.\n");
        return false;
    }
    const WebPYUVABuffer& yuv = buffer->u.YUVA;
    return std::fprintf(output, "P5\n%d %d\n255\n", buffer->width, buffer->height) >= 0 &&
           writePlaneRows(output, yuv.a, yuv.a_stride, buffer->width, buffer->height, false);
}

void PNGErrorLongJump(png_structp png, png_const_charp message) {
    ConversionLogf("libpng error: %s\n", message ? message : "");
    png_longjmp(png, 1);
}

// The libpng calls that may jump; no object with a destructor lives here.
int EncodePNGRows(png_structp png, png_infop info, FILE* output, const WebPDecBuffer* buffer) {
    if (setjmp(png_jmpbuf(png)))
        return 0;
    const bool alpha = buffer->colorspace == MODE_RGBA;
    png_init_io(png, output);
    png_set_IHDR(png, info, png_uint_32(buffer->width), png_uint_32(buffer->height), 8,
                 alpha ? PNG_COLOR_TYPE_RGBA : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (int y = 0; y < buffer->height; ++y)
        png_write_row(png,
                      buffer->u.RGBA.rgba + std::size_t(y) * std::size_t(buffer->u.RGBA.stride));
    png_write_end(png, info);
    return 1;
}

} // namespace

void setDecoderToolVerbose(bool verbose) {
    gVerbose = verbose;
}
bool decoderToolVerbose() {
    return gVerbose;
}

WEBP_CSP_MODE decodedColorMode(DecodedImageFormat format, int hasAlpha) {
    switch (format) {
    case kDecodedPNG:
        return hasAlpha ? MODE_RGBA : MODE_RGB;
    case kDecodedPAM:
        return MODE_RGBA;
    case kDecodedPPM:
        return MODE_RGB;
    case kDecodedBMP:
        return hasAlpha ? MODE_BGRA : MODE_BGR;
    case kDecodedTIFF:
        return hasAlpha ? MODE_rgbA : MODE_RGB;
    case kDecodedPGM:
    case kDecodedRawYUV:
        return hasAlpha ? MODE_YUVA : MODE_YUV;
    case kDecodedAlphaPlanePGM:
        return MODE_YUVA;
    }
    return MODE_RGB;
}

int WritePNGFile(FILE* output, const WebPDecBuffer* buffer) {
    if (!output || !isRGBMode(buffer))
        return 0;
    const WEBP_CSP_MODE mode = buffer->colorspace;
    if ((mode != MODE_RGB && mode != MODE_RGBA) || !rgbLayoutValid(buffer, samplesOf(mode)))
        return 0;
    png_structp png =
        png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, PNGErrorLongJump, nullptr);
    if (!png)
        return 0;
    png_infop info = png_create_info_struct(png);
    if (!info) {
        png_destroy_write_struct(&png, nullptr);
        return 0;
    }
    const int ok = EncodePNGRows(png, info, output, buffer);
    png_destroy_write_struct(&png, &info);
    return ok;
}

int WritePortablePixmap(FILE* output, const WebPDecBuffer* buffer, int withAlpha) {
    if (!output || !buffer)
        return 0;
    const WEBP_CSP_MODE wanted = withAlpha ? MODE_RGBA : MODE_RGB;
    if (buffer->colorspace != wanted || !rgbLayoutValid(buffer, withAlpha ? 4 : 3))
        return 0;
    const int written =
        withAlpha ? std::fprintf(output,
                                 "P7\nWIDTH %d\nHEIGHT %d\nDEPTH 4\nMAXVAL 255\nTUPLTYPE "
                                 "RGB_ALPHA\nENDHDR\n",
                                 buffer->width, buffer->height)
                  : std::fprintf(output, "P6\n%d %d\n255\n", buffer->width, buffer->height);
    return written >= 0 &&
           writeRGBRows(output, buffer, std::size_t(buffer->width) * (withAlpha ? 4 : 3));
}

int SaveDecodedImage(const WebPDecBuffer* buffer, DecodedImageFormat format, const char* path,
                     bool announce) {
    if (!buffer || !path)
        return 0;
    const bool verbose = gVerbose;
    const auto start = std::chrono::steady_clock::now();
    conversion::OutputFile target;
    FILE* output = target.open(path);
    if (!output) {
        ConversionLogf("Error opening output file %s (%s)\n", path, target.errorText());
        return 0;
    }
    const bool toStdout = target.writesToStandardOutput();
    bool ok = false;
    switch (format) {
    case kDecodedPNG:
        ok = WritePNGFile(output, buffer);
        break;
    case kDecodedPAM:
        ok = WritePortablePixmap(output, buffer, 1);
        break;
    case kDecodedPPM:
        ok = WritePortablePixmap(output, buffer, 0);
        break;
    case kDecodedPGM:
        ok = writePlanesPGM(output, buffer);
        break;
    case kDecodedBMP:
        ok = writeBMP(output, buffer);
        break;
    case kDecodedTIFF:
        ok = writeTIFF(output, buffer);
        break;
    case kDecodedRawYUV:
        ok = writeRawYUV(output, buffer);
        break;
    case kDecodedAlphaPlanePGM:
        ok = writeAlphaPlane(output, buffer);
        break;
    }
    // The cause of a failed write, read before anything else can change errno.
    int cause = ok ? 0 : (errno ? errno : EIO);
    if (ok) {
        ok = target.commit();
        if (!ok)
            cause = errno;
    } else {
        target.abandon();
    }
    if (ok && !announce) {
        // Nothing to say about a file the user never sees.
    } else if (ok) {
        if (toStdout)
            ConversionLogf("Saved to stdout\n");
        else
            ConversionLogf("Saved file %s\n", path);
        if (verbose) {
            const std::chrono::duration<double> spent = std::chrono::steady_clock::now() - start;
            ConversionLogf("Time to write output: %.3fs\n", spent.count());
        }
    } else if (toStdout) {
        ConversionLogf("Error writing to stdout !! (%s)\n", std::strerror(cause));
    } else {
        ConversionLogf("Error writing file %s !! (%s)\n", path, std::strerror(cause));
    }
    return ok;
}
