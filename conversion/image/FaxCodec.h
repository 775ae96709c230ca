// Raw group 3 fax files (.g3, .fax without a TIFF header): T.4 one-dimensional rows, each
// begun by an end-of-line code, decoded by libtiff's CCITT decoder inside a TIFF made in memory.
#pragma once

#include "Bitmap.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace conversion {

// Whether a file without a signature of its own is a raw fax by its extension.
bool isRawFaxExtension(const std::string& extension);

// The number of coded rows: the stretches between end-of-line codes that hold any code bits
// (the six end-of-line codes that close a page hold none).
std::int64_t CountFaxRows(const std::uint8_t* bytes, std::size_t length);

// A grey picture (0 black, 255 white) of the page width the data decodes at (1728, the
// standard, else the wider B4 and A3 widths) and as many rows as the data codes.
bool decodeRawFaxBitmap(const std::uint8_t* bytes, std::size_t length, Bitmap& out,
                        std::string& error);

} // namespace conversion
