// The long tail of formats (PSD, TGA, BMP, SGI, PICT, Windows icons, X bitmaps, and reading GIF,
// OpenEXR and MacPaint) through ImageMagick's Magick++. ImageMagick is always told which coder to
// use: it never chooses one by itself from a name or content, so no other of its coders can be
// reached.
#pragma once

#include "Bitmap.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace conversion {

// Whether ImageMagick's resource limits (its policy: sides, memory, map and disk) leave room for
// a picture of this size; else false with a message naming the limit.
bool withinMagickLimits(std::int64_t width, std::int64_t height, bool cmyk,
                        std::string* error = nullptr);

// The ImageMagick coder for an input of this kind, judged by content (the type identifier) or,
// for formats without a signature, by the file's extension; "" when none applies.
std::string magickCoderForInput(const std::string& typeIdentifier, const std::string& extension);
// The coder that writes a format code; "" when ImageMagick writes nothing for it here.
std::string magickCoderForOutput(std::int32_t format);

// Every frame of animated GIFs (composed) and every size of icons; the composite of PSDs.
bool decodeMagickBitmaps(const std::uint8_t* bytes, std::size_t length, const std::string& coder,
                         std::vector<Bitmap>& frames, std::string& error);
bool encodeMagickBitmap(const Bitmap& bitmap, const std::string& coder, bool keepAlpha,
                        double quality, double dpiX, double dpiY, std::vector<std::uint8_t>& out,
                        std::string& error);

} // namespace conversion
