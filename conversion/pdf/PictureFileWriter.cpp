#include "PictureFileWriter.h"

#include <png.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <unistd.h>
#include <vector>

namespace {

bool writePNG(const PDFPicture& picture, std::vector<std::uint8_t>& out, std::string& error) {
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    image.width = png_uint_32(picture.width);
    image.height = png_uint_32(picture.height);
    image.format = picture.channels == 1 ? (picture.hasAlpha ? PNG_FORMAT_GA : PNG_FORMAT_GRAY)
                                         : (picture.hasAlpha ? PNG_FORMAT_RGBA : PNG_FORMAT_RGB);
    png_alloc_size_t size = 0;
    const png_int_32 stride = png_int_32(picture.width * picture.pixelBytes());
    if (!png_image_write_get_memory_size(image, size, 0, picture.pixels.data(), stride, nullptr)) {
        error = image.message;
        return false;
    }
    out.resize(size);
    if (!png_image_write_to_memory(&image, out.data(), &size, 0, picture.pixels.data(), stride,
                                   nullptr)) {
        error = image.message;
        return false;
    }
    out.resize(size);
    return true;
}

} // namespace

bool PictureFormatIsWritable(std::int32_t format) {
    return format == kPictureFormatPNG;
}

bool PictureFormatSupportsAlpha(std::int32_t format) {
    return format == kPictureFormatPNG;
}

std::string PictureFormatExtension(std::int32_t format) {
    return format == kPictureFormatPNG ? "png" : "";
}

bool WritePictureFile(const PDFPicture& picture, std::int32_t format,
                      const std::filesystem::path& path, std::string& error) {
    std::vector<std::uint8_t> bytes;
    if (format != kPictureFormatPNG) {
        error = "this output format cannot be written yet";
        return false;
    }
    if (!writePNG(picture, bytes, error))
        return false;
    std::filesystem::path temporary = path;
    temporary += ".part-" + std::to_string(::getpid());
    std::FILE* f = std::fopen(temporary.c_str(), "wb");
    if (!f) {
        error = std::strerror(errno);
        return false;
    }
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    const bool closed = std::fclose(f) == 0;
    if (!written || !closed) {
        error = "the disk refused the data (full?)";
        std::remove(temporary.c_str());
        return false;
    }
    std::error_code ec;
    std::filesystem::rename(temporary, path, ec);
    if (ec) {
        error = ec.message();
        std::remove(temporary.c_str());
        return false;
    }
    return true;
}
