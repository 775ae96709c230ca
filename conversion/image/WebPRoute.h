// The job's way in and out of WebP, through the WebP front ends: an input is decoded into a
// TIFF file that the job then reads; an output is encoded from a TIFF file.
#pragma once

#include <filesystem>
#include <string>

namespace conversion {

bool decodeWebPFileToTIFF(const std::filesystem::path& input, const std::filesystem::path& tiff,
                          std::string& error);
// quality 1.0 is lossless; below it lossy at quality x 100.
bool encodeTIFFFileToWebP(const std::filesystem::path& tiff, const std::filesystem::path& output,
                          double quality, std::string& error);

} // namespace conversion
