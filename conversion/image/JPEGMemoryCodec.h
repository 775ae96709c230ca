// JPEG in memory through libjpeg-turbo: the plain pixel bridges that the PDF jobs use, and the
// picture reader and writer of the image job. libjpeg errors come back as failures; a JPEG whose
// data ends early decodes as though its end-of-image marker followed.
#pragma once

#include "Bitmap.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

// Colour code by output components: 1 for grey, 2 for RGB, 4 for CMYK (stored as in the file).
// Answers 0 on success, 1 on failure; the pixels are malloc'd for the caller to free. The
// resolutions are written only when the file records dots per inch or per centimetre.
// `colorTransform` 0 or 1 says whether three or four components are stored transformed (YCbCr,
// YCCK) when the file has no Adobe marker to say so itself; -1 leaves it to the file.
int DecompressJPEGData(const std::uint8_t* bytes, std::size_t length, int* colorCode,
                       std::uint8_t** pixels, std::size_t* size, std::uint32_t* width,
                       std::uint32_t* height, double* resolutionX, double* resolutionY,
                       int colorTransform = -1);

// Rows of components x width bytes. The output buffer is malloc'd (free it); size 0 after the
// call means failure.
void CompressJPEGData(std::uint32_t width, std::uint32_t height, const std::uint8_t* pixels,
                      int jpegColorSpace, int components, std::uint8_t** buffer, std::size_t* size,
                      int quality, double resolutionX, double resolutionY);

namespace conversion {

// Grey, RGB or CMYK (Adobe's inverted CMYK is turned upright), with the file's ICC profile and
// resolution. A `reduction` of 2, 4 or 8 decodes at that fraction of the size (each side rounded
// up), which libjpeg does in the DCT at a fraction of the work.
bool decodeJPEGBitmap(const std::uint8_t* bytes, std::size_t length, Bitmap& out,
                      std::string& error, int reduction = 1);
// The size, colour model and resolution of JPEG data without its pixels; false when the header
// cannot be read.
bool readJPEGHeader(const std::uint8_t* bytes, std::size_t length, Bitmap& out);
// JPEG encoding fed bands of rows, into a file or into memory. The rows are in the layout's model
// (grey, RGB or CMYK, with or without alpha); alpha is composited onto white.
class JPEGRowWriter {
public:
    JPEGRowWriter();
    ~JPEGRowWriter();
    JPEGRowWriter(const JPEGRowWriter&) = delete;
    JPEGRowWriter& operator=(const JPEGRowWriter&) = delete;
    // `layout` gives the size, model, alpha and ICC profile (its pixels are not read). The
    // output goes to `file` when given, else stays in memory for finish().
    bool begin(const Bitmap& layout, int quality, double dpiX, double dpiY, FILE* file,
               std::string& error);
    bool write(const std::uint8_t* rows, std::int64_t count, std::string& error);
    // The encoded bytes go to `out` when they were kept in memory.
    bool finish(std::vector<std::uint8_t>* out, std::string& error);

    struct State;

private:
    std::unique_ptr<State> m;
};

// quality 0 to 100; dpi written when above 0. Alpha is composited onto white first.
bool encodeJPEGBitmap(const Bitmap& bitmap, int quality, double dpiX, double dpiY,
                      std::vector<std::uint8_t>& out, std::string& error);

} // namespace conversion
