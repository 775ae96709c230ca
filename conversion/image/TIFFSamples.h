// A TIFF page read by strips or tiles with its real samples: grey, RGB and CMYK at 8 or 16 bits
// or 32-bit floats, interleaved or in planes, with straight or associated alpha (the latter
// un-premultiplied). libtiff's RGBA reader, which the other layouts go through, premultiplies
// its result, so unpremultiplyAlpha follows it.
#pragma once

#include "Bitmap.h"

#include <string>
#include <tiffio.h>

namespace conversion {

struct TIFFPageLayout {
    std::uint32_t width = 0, height = 0;
    std::uint16_t bits = 8, sampleFormat = SAMPLEFORMAT_UINT, samples = 1;
    std::uint16_t planar = PLANARCONFIG_CONTIG, photometric = PHOTOMETRIC_RGB;
    std::uint16_t inkset = INKSET_CMYK, compression = COMPRESSION_NONE;
    std::uint16_t extraCount = 0;
    bool associatedAlpha = false;
};

TIFFPageLayout readTIFFPageLayout(TIFF* tif);
// Whether readTIFFSamples reads this layout.
bool canReadTIFFSamples(const TIFFPageLayout& layout);
bool readTIFFSamples(TIFF* tif, const TIFFPageLayout& layout, Bitmap& page, std::string& error);
// The page's resolution (dots per inch, when it names a unit) and ICC profile, into `page`.
void readTIFFResolutionAndProfile(TIFF* tif, Bitmap& page);
// Colour samples divided by their alpha (premultiplied to straight), the 16-bit ones too.
void unpremultiplyAlpha(Bitmap& bitmap);

} // namespace conversion
