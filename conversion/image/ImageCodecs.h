// One reader and one writer per format code, over the codec libraries. What no library here
// writes is refused with a message.
#pragma once

#include "Bitmap.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace conversion {

// What the encoder is told beside the pixels.
struct EncoderProperties {
    // Copy the metadata of this file (empty: none).
    std::filesystem::path metadataSource;
    int orientation = 0;
    bool hasAlpha = false;
    bool hasResolution = false;
    float dpiX = 0;
    float dpiY = 0;
    // libtiff compression code for TIFF outputs; 0 for none.
    int tiffCompression = 0;
    bool hasQuality = false;
    float quality = 0;
};

// Whether a writer exists for the code, and the reason when none does.
bool canWriteFormat(std::int32_t format, std::string* reason = nullptr);

bool encodeBitmap(const Bitmap& bitmap, std::int32_t format, const EncoderProperties& properties,
                  std::vector<std::uint8_t>& out, std::string& error);

// Every picture of image data judged by its content (not PDF or WebP, which have their own
// routes). `extension` names the kind for formats without a signature.
bool decodeImageBytes(const std::uint8_t* bytes, std::size_t length, const std::string& extension,
                      std::vector<Bitmap>& pictures, std::string& error);

} // namespace conversion
