// PDFs written object by object, pictures built in memory.
#pragma once

#include "Bitmap.h"
#include "ImageConversionJob.h"
#include "ImageFormats.h"
#include "ImageTestSupport.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace rendertest {

namespace fs = std::filesystem;

struct PDFPage {
    double width = 612;
    double height = 792;
    int rotate = 0;
    // The content stream, in PDF operators ("1 0 0 rg 10 10 50 50 re f").
    std::string content;
};

// A PDF file with the pages, each a media box of its size; text pages may use the font /F1
// (Helvetica).
void writePDF(const fs::path& path, const std::vector<PDFPage>& pages);
// `count` pages of 72 x 72 points, page i filled with grey level (i * 2) % 256.
void writeNumberedPDF(const fs::path& path, int count);

// A picture in memory, every pixel given by the function (r, g, b, a).
template <typename F>
conversion::Bitmap makeBitmap(std::int64_t w, std::int64_t h, bool alpha, F pixel) {
    conversion::Bitmap b;
    b.allocate(w, h, conversion::ColorModel::RGB, alpha, nullptr);
    for (std::int64_t y = 0; y < h; ++y)
        for (std::int64_t x = 0; x < w; ++x) {
            std::uint8_t* p = b.row(y) + x * b.channels();
            const auto c = pixel(x, y);
            p[0] = std::uint8_t(c[0]);
            p[1] = std::uint8_t(c[1]);
            p[2] = std::uint8_t(c[2]);
            if (alpha)
                p[3] = std::uint8_t(c[3]);
        }
    return b;
}

// Decoded with ImageMagick from bytes.
imagetest::Pixels pixelsOfBytes(const std::vector<std::uint8_t>& bytes);

// A render of `source` kept in memory, decoded again with ImageMagick.
struct Rendered {
    bool ok = false;
    imagetest::Pixels pixels;
    double dpiX = 0, dpiY = 0;
    std::vector<std::uint8_t> bytes;
    std::string error;
};
Rendered render(const conversion::Bitmap& source, RenderSize size,
                const std::function<void(conversion::ImageConversionJob&)>& setup = {},
                std::int32_t format = conversion::kFormatTIFF);
// A target in pixels, resampled.
RenderSize pixels(double w, double h, bool keep, int fit = 0);

// Open file descriptors of this process.
int openFileCount();

} // namespace rendertest
