// One image of a PDF page (an image XObject or an inline image) decoded into grey or RGB pixels
// with an optional alpha channel: filters and codecs removed, samples widened to 8 bits, Decode
// arrays applied, indexed, Separation and DeviceN samples resolved, the colour space converted,
// and colour-key, stencil and soft masks turned into alpha.
#pragma once

#include "PixelLimits.h"

#include <cstdint>
#include <string>
#include <vector>

#include <qpdf/QPDFObjectHandle.hh>

struct PDFPicture {
    std::int64_t width = 0;
    std::int64_t height = 0;
    int channels = 1; // colour channels: 1 grey, 3 RGB
    bool hasAlpha = false;
    std::vector<std::uint8_t> pixels; // rows top to bottom, channels then alpha per pixel
    int pixelBytes() const { return channels + (hasAlpha ? 1 : 0); }
};

struct ImageStreamContext {
    // The ColorSpace dictionary of the page's resources, for colour spaces given by name.
    QPDFObjectHandle pageColorSpaces;
    // Masks become alpha only when the output format keeps it.
    bool formatSupportsAlpha = true;
    // The largest picture decoded; larger ones are refused with a message.
    std::uint64_t maxPixels = conversion::kMaxPixels;
};

// Decodes the image; false (with `error` set to one line) when it has no size, its data does not
// decode or its size is over the cap. The dictionary may use the inline abbreviations (W, H,
// BPC, CS, D, I, IM, F, DP).
bool CreateImageFromPDFStream(const ImageStreamContext& context, QPDFObjectHandle dict,
                              QPDFObjectHandle stream, PDFPicture& picture, std::string& error);
