// PNG through libpng: 8-bit grey, grey with alpha, RGB and RGBA; 16-bit files keep their high
// byte, palettes and low bit depths are expanded. Resolution travels as pHYs, ICC as iCCP.
#pragma once

#include "Bitmap.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace conversion {

bool decodePNGBitmap(const std::uint8_t* bytes, std::size_t length, Bitmap& out,
                     std::string& error);
// CMYK is turned into RGB first; dpi is written when both are finite and above 0.
bool encodePNGBitmap(const Bitmap& bitmap, bool keepAlpha, double dpiX, double dpiY,
                     std::vector<std::uint8_t>& out, std::string& error);

} // namespace conversion
