// GIF files written with giflib: one picture, its colours reduced to a palette of at most 256
// (exact when the picture has no more), alpha kept as one transparent entry.
#pragma once

#include "Bitmap.h"

#include <cstdint>
#include <string>
#include <vector>

namespace conversion {

bool encodeGIFBitmap(const Bitmap& bitmap, bool keepAlpha, std::vector<std::uint8_t>& out,
                     std::string& error);

} // namespace conversion
