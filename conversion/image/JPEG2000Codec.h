// JPEG 2000 (a raw codestream or a JP2 file) in memory through OpenJPEG.
#pragma once

#include "Bitmap.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Decodes into interleaved 8-bit samples: the colour components, then alpha when the image has
// one. colorCode: 0 none (set from the colour components: 1 grey, 2 RGB, 3 CMYK), else left as
// given. componentCount receives the samples per pixel actually written. Higher precisions keep
// their high byte, lower ones are scaled up to the full 8-bit range, sYCC becomes RGB. iccProfile
// (may be null) receives the file's profile. Answers 0, or -1 on any failure (outputs untouched).
// `deep` (may be null) receives the 16-bit samples of a file that holds 16 bits (not sYCC), in
// the layout of `pixels`; else it is emptied.
int CreatePixelDataFromJPEG2000(const std::vector<std::uint8_t>& data,
                                std::vector<std::uint8_t>* pixels, int* colorCode,
                                int* componentCount, std::vector<std::uint8_t>* iccProfile,
                                std::uint32_t* width = nullptr, std::uint32_t* height = nullptr,
                                std::vector<std::uint16_t>* deep = nullptr);

namespace conversion {

bool decodeJPEG2000Bitmap(const std::uint8_t* bytes, std::size_t length, Bitmap& out,
                          std::string& error);
// JP2 file. quality 1.0 is lossless; below it the rate falls with the quality.
bool encodeJPEG2000Bitmap(const Bitmap& bitmap, double quality, bool keepAlpha,
                          std::vector<std::uint8_t>& out, std::string& error);

} // namespace conversion
