// WebP output of the image job, straight from a bitmap: encoded with libwebp and, when there is
// a colour profile or EXIF data to keep, put together with its ICCP and EXIF chunks by libwebp's
// mux.
#pragma once

#include "Bitmap.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct WebPConfig;

namespace conversion {

// The settings the library's WebP output has always had: a second thread where the encoder can
// use one (the bytes are the same), lossless at quality 1, else lossy at quality x 100. False
// when libwebp refuses them.
bool configureWebPEncoder(WebPConfig& config, double quality);

// `quality` 1.0 is lossless; below it lossy at quality x 100. The bitmap's ICC profile is kept;
// `exif` (a TIFF-structured EXIF block, without the "Exif\0\0" header) is added when not empty.
// `pixelsNoLongerNeeded` (may be empty) is called once the encoder holds its own copy of the
// pixels, before it encodes: a caller done with the bitmap frees it there, which keeps the
// decoded picture and the encoder's working memory from being held at once.
bool encodeWebPBitmap(const Bitmap& bitmap, double quality, const std::vector<std::uint8_t>& exif,
                      std::vector<std::uint8_t>& out, std::string& error,
                      const std::function<void()>& pixelsNoLongerNeeded = {});

} // namespace conversion
