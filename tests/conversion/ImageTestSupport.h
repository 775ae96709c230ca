// Pictures made and read back with ImageMagick, which the library does not use for these formats.
#pragma once

#include "TestFiles.h"

#include <Magick++.h>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace imagetest {

using namespace testfiles;

// A smooth RGB gradient with a diagonal ramp, w x h, as 8-bit RGB(A) samples; with alpha the
// alpha channel falls from 255 to 55 left to right.
Magick::Image gradient(std::size_t w, std::size_t h, bool alpha = false);

// Writes the image with the named ImageMagick coder (e.g. "PNG", "TIFF") at the path.
void writeWith(Magick::Image image, const std::string& coder, const fs::path& path);

struct Pixels {
    std::size_t width = 0;
    std::size_t height = 0;
    bool alpha = false;
    std::vector<std::uint8_t> rgba; // 4 samples a pixel
};

// The first picture of a file read with ImageMagick, forced to the named coder ("" lets it
// judge by content).
Pixels readPixels(const fs::path& path, const std::string& coder = "");
Pixels pixelsOf(Magick::Image image);
// The four samples of the pixel at (x, y).
inline const std::uint8_t* at(const Pixels& p, std::size_t x, std::size_t y) {
    return &p.rgba[(y * p.width + x) * 4];
}

// The largest difference of any colour sample (alpha too when both have it).
int maxDifference(const Pixels& a, const Pixels& b);
// The mean absolute difference of the colour samples.
double meanDifference(const Pixels& a, const Pixels& b);

// The horizontal resolution a file records, in dots per inch, read with ImageMagick.
double dpiOf(const fs::path& file, const std::string& coder = "");

struct TIFFPageInfo {
    std::uint32_t width = 0, height = 0;
    std::uint16_t samples = 0, photometric = 0, extraSamples = 0;
    std::uint16_t pageNumber = 0, pageCount = 0;
    std::uint16_t compression = 0, resolutionUnit = 0, orientation = 0;
    float xResolution = 0, yResolution = 0;
    std::vector<std::uint8_t> firstPixel; // the samples of the pixel at (0, 0)
    std::vector<std::uint8_t> centrePixel;
};
// Every directory of a TIFF file read with libtiff (empty when it cannot be opened).
std::vector<TIFFPageInfo> readTIFFPages(const fs::path& path);

} // namespace imagetest
