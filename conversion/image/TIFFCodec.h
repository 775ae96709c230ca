// TIFF through libtiff: every page of a file, and one or several pages written into memory.
#pragma once

#include "Bitmap.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace conversion {

// Every page (directory) of the file or data; false when not even the first page can be read.
bool readTIFFFile(const std::filesystem::path& path, std::vector<Bitmap>& pages,
                  std::string& error);
bool decodeTIFFBitmaps(const std::uint8_t* bytes, std::size_t length, std::vector<Bitmap>& pages,
                       std::string& error);

struct TIFFWriteSettings {
    // libtiff compression code: 1 none, 5 LZW (with the horizontal predictor), 3 CCITT group 3
    // (bilevel, for fax).
    int compression = 1;
    bool keepAlpha = true;
    // Written with unit inches when finite and above 0.
    double dpiX = 0;
    double dpiY = 0;
    // EXIF orientation 1 to 8; 0 writes none.
    int orientation = 0;
};

bool encodeTIFFBitmaps(const std::vector<const Bitmap*>& pages, const TIFFWriteSettings& settings,
                       std::vector<std::uint8_t>& out, std::string& error);
// The same straight into a new file (nothing is held in memory); a failed write removes it.
bool writeTIFFFile(const std::filesystem::path& path, const std::vector<const Bitmap*>& pages,
                   const TIFFWriteSettings& settings, std::string& error);

} // namespace conversion
