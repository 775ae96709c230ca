// Apple icon files through libicns: every picture an icon family holds is read, and a picture is
// written as the one member of a new family at the icon size nearest to it.
#pragma once

#include "Bitmap.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace conversion {

// Every picture of the family in file order, each RGB with alpha (the member's mask applied).
// Members stored as PNG or JPEG 2000 (the large sizes) go through the project's own decoders.
bool decodeICNSBitmaps(const std::uint8_t* bytes, std::size_t length, std::vector<Bitmap>& pictures,
                       std::string& error);

// The icon size (16, 32, 48, 128, 256, 512 or 1024) a picture of this size is written at.
int iCNSSizeFor(std::int64_t width, std::int64_t height);

bool encodeICNSBitmap(const Bitmap& bitmap, std::vector<std::uint8_t>& out, std::string& error);

} // namespace conversion
