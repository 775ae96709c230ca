// WebP output of the image job, straight from a bitmap: encoded with libwebp and, when there is
// a colour profile or EXIF data to keep, put together with its ICCP and EXIF chunks by libwebp's
// mux.
#pragma once

#include "Bitmap.h"

#include <cstdint>
#include <string>
#include <vector>

namespace conversion {

// `quality` 1.0 is lossless; below it lossy at quality x 100. The bitmap's ICC profile is kept;
// `exif` (a TIFF-structured EXIF block, without the "Exif\0\0" header) is added when not empty.
bool encodeWebPBitmap(const Bitmap& bitmap, double quality, const std::vector<std::uint8_t>& exif,
                      std::vector<std::uint8_t>& out, std::string& error);

} // namespace conversion
