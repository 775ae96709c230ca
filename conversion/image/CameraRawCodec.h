// Camera raw files through LibRaw, read only: the sensor data developed with the camera's white
// balance into 8-bit sRGB. Nothing here writes raw files.
#pragma once

#include "Bitmap.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

namespace conversion {

// Whether the data is a camera raw file: a TIFF whose first directory carries a DNGVersion tag,
// or a file whose extension names a camera's raw format (many of those are TIFF inside too).
bool isCameraRawData(const std::uint8_t* bytes, std::size_t length, const std::string& extension);
// The same for a file on disk, reading only its header and first directory.
bool isCameraRawFile(const std::filesystem::path& path);

bool decodeCameraRawBitmap(const std::uint8_t* bytes, std::size_t length, Bitmap& out,
                           std::string& error);

} // namespace conversion
