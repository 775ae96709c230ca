#include "PictureFileWriter.h"

#include <png.h>

#include <algorithm>
#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <unistd.h>
#include <vector>

namespace {

bool isBilevel(const PDFPicture& picture) {
    if (picture.channels != 1 || picture.hasAlpha)
        return false;
    for (std::uint8_t v : picture.pixels) {
        if (v != 0 && v != 255)
            return false;
    }
    return true;
}

void appendToVector(png_structp png, png_bytep data, png_size_t length) {
    auto* out = static_cast<std::vector<std::uint8_t>*>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + length);
}

// Kept out of the function that calls setjmp, so that nothing there changes after it.
void writeBilevelRows(png_structp png, const PDFPicture& picture) {
    std::vector<std::uint8_t> row(std::size_t((picture.width + 7) / 8));
    const std::uint8_t* p = picture.pixels.data();
    for (std::int64_t y = 0; y < picture.height; ++y) {
        std::fill(row.begin(), row.end(), 0);
        for (std::int64_t x = 0; x < picture.width; ++x, ++p) {
            if (*p)
                row[std::size_t(x / 8)] |= std::uint8_t(0x80 >> (x % 8));
        }
        png_write_row(png, row.data());
    }
}

// Black-and-white pictures (scans, fax, stencils) as 1-bit PNG: an eighth of the pixels to
// compress, and the file a reader expects for them.
bool writeBilevelPNG(const PDFPicture& picture, std::vector<std::uint8_t>& out,
                     std::string& error) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!info) {
        png_destroy_write_struct(&png, nullptr);
        error = "out of memory";
        return false;
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        error = "PNG encoding failed";
        return false;
    }
    png_set_write_fn(png, &out, appendToVector, nullptr);
    png_set_IHDR(png, info, png_uint_32(picture.width), png_uint_32(picture.height), 1,
                 PNG_COLOR_TYPE_GRAY, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_set_compression_level(png, 3);
    png_write_info(png, info);
    writeBilevelRows(png, picture);
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return true;
}

bool writePNG(const PDFPicture& picture, std::vector<std::uint8_t>& out, std::string& error) {
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    image.width = png_uint_32(picture.width);
    image.height = png_uint_32(picture.height);
    // Pictures out of a PDF are written for use, not archiving: quick compression.
    image.flags = PNG_IMAGE_FLAG_FAST;
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
    if (!(isBilevel(picture) ? writeBilevelPNG(picture, bytes, error)
                             : writePNG(picture, bytes, error)))
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
