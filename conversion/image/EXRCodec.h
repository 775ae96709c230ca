// OpenEXR files written with OpenEXR's own library: half-float RGB, each 8-bit sample stored as
// its fraction of 255.
#pragma once

#include "Bitmap.h"

#include <cstdint>
#include <string>
#include <vector>

namespace conversion {

bool encodeEXRBitmap(const Bitmap& bitmap, std::vector<std::uint8_t>& out, std::string& error);

} // namespace conversion
