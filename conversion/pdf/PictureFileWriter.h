// Writes a decoded picture to a file in one of the formats the extractor offers. The file appears
// whole or not at all: it is written beside its final name and renamed into place.
#pragma once

#include "PDFImageStream.h"

#include <cstdint>
#include <filesystem>
#include <string>

// Format codes the writer knows (the library's ImageFileFormat codes).
inline constexpr std::int32_t kPictureFormatPNG = 7;

bool PictureFormatIsWritable(std::int32_t format);
bool PictureFormatSupportsAlpha(std::int32_t format);
// "png" for PNG; empty for a format the writer does not know.
std::string PictureFormatExtension(std::int32_t format);
bool WritePictureFile(const PDFPicture& picture, std::int32_t format,
                      const std::filesystem::path& path, std::string& error);
