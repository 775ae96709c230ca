// Decoders that hand over a picture a band of rows at a time, read from an open file, for the
// conversions that never hold the whole picture: JPEG and (non-interlaced) PNG, decoded exactly
// as decodeJPEGBitmap and decodePNGBitmap decode them.
#pragma once

#include "Bitmap.h"

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

namespace conversion {

class RowReader {
public:
    virtual ~RowReader() = default;
    // Reads the header: `layout` gets the size, model, alpha, resolution and ICC profile (no
    // pixels). False with `error` set for damaged data; false with `error` empty for a file
    // these readers leave to the whole-picture decoders.
    virtual bool start(Bitmap& layout, std::string& error) = 0;
    // The next `count` rows into `rows` (rows of the layout's rowBytes()).
    virtual bool read(std::uint8_t* rows, std::int64_t count, std::string& error) = 0;
};

// Readers of the file (which stays the caller's to close).
std::unique_ptr<RowReader> makeJPEGRowReader(FILE* file);
std::unique_ptr<RowReader> makePNGRowReader(FILE* file);
// One page of 8-bit grey or RGB samples in strips (libtiff opens the file itself).
std::unique_ptr<RowReader> makeTIFFRowReader(const std::filesystem::path& path);

} // namespace conversion
