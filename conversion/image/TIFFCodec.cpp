#include "TIFFCodec.h"

#include "PixelLimits.h"
#include "TIFFSamples.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <tiffio.h>

namespace conversion {

namespace {

struct MemoryFile {
    const std::uint8_t* readData = nullptr;
    std::vector<std::uint8_t>* writeData = nullptr;
    std::size_t size = 0;
    std::size_t position = 0;
};

tmsize_t memoryRead(thandle_t handle, void* buffer, tmsize_t count) {
    auto* f = static_cast<MemoryFile*>(handle);
    const std::uint8_t* data = f->writeData ? f->writeData->data() : f->readData;
    if (count < 0 || f->position >= f->size)
        return 0;
    const std::size_t n = std::min<std::size_t>(std::size_t(count), f->size - f->position);
    std::memcpy(buffer, data + f->position, n);
    f->position += n;
    return tmsize_t(n);
}
tmsize_t memoryWrite(thandle_t handle, void* buffer, tmsize_t count) {
    auto* f = static_cast<MemoryFile*>(handle);
    if (!f->writeData || count < 0)
        return -1;
    const std::size_t end = f->position + std::size_t(count);
    if (end > f->writeData->size())
        f->writeData->resize(std::max(end, f->writeData->size() * 3 / 2));
    std::memcpy(f->writeData->data() + f->position, buffer, std::size_t(count));
    f->position = end;
    f->size = std::max(f->size, end);
    return count;
}
toff_t memorySeek(thandle_t handle, toff_t offset, int whence) {
    auto* f = static_cast<MemoryFile*>(handle);
    std::uint64_t base = whence == SEEK_CUR ? f->position : whence == SEEK_END ? f->size : 0;
    const std::uint64_t target = base + offset;
    if (!f->writeData && target > f->size)
        return toff_t(-1);
    f->position = std::size_t(target);
    if (f->writeData && f->position > f->size) {
        if (f->position > f->writeData->size())
            f->writeData->resize(f->position);
        f->size = f->position;
    }
    return f->position;
}
int memoryClose(thandle_t) {
    return 0;
}
toff_t memorySize(thandle_t handle) {
    return static_cast<MemoryFile*>(handle)->size;
}
int memoryMap(thandle_t, void**, toff_t*) {
    return 0;
}
void memoryUnmap(thandle_t, void*, toff_t) {}

void quietHandler(const char*, const char*, va_list) {}

struct QuietLibtiff {
    TIFFErrorHandler error = TIFFSetErrorHandler(quietHandler);
    TIFFErrorHandler warning = TIFFSetWarningHandler(quietHandler);
};

bool readPage(TIFF* tif, Bitmap& page, std::string& error) {
    const TIFFPageLayout layout = readTIFFPageLayout(tif);
    if (canReadTIFFSamples(layout)) {
        if (!readTIFFSamples(tif, layout, page, error))
            return false;
    } else {
        const std::uint32_t width = layout.width, height = layout.height;
        const bool alpha = layout.extraCount > 0;
        if (!page.allocate(width, height, ColorModel::RGB, true, &error))
            return false;
        // libtiff's general reader handles every other layout: palettes, YCbCr, fewer than 8
        // bits, fax pages, other colour spaces. Its result is premultiplied.
        std::vector<std::uint32_t> rgba;
        try {
            rgba.resize(std::size_t(width) * height);
        } catch (...) {
            error = "not enough memory for the TIFF page";
            return false;
        }
        if (!TIFFReadRGBAImageOriented(tif, width, height, rgba.data(), ORIENTATION_TOPLEFT, 0)) {
            error = "unsupported or damaged TIFF page";
            return false;
        }
        bool opaque = true;
        for (std::size_t i = 0; i < rgba.size(); ++i) {
            const std::uint32_t p = rgba[i];
            std::uint8_t* d = &page.pixels[i * 4];
            d[0] = TIFFGetR(p);
            d[1] = TIFFGetG(p);
            d[2] = TIFFGetB(p);
            d[3] = TIFFGetA(p);
            opaque = opaque && d[3] == 255;
        }
        if (opaque || !alpha)
            page = convertBitmap(page, ColorModel::RGB, false);
        else
            unpremultiplyAlpha(page);
    }
    readTIFFResolutionAndProfile(tif, page);
    return true;
}

bool readAllPages(TIFF* tif, std::vector<Bitmap>& pages, std::string& error) {
    pages.clear();
    std::uint64_t total = 0;
    do {
        if (pages.size() >= kMaxPicturesPerFile) {
            error = "the file holds more than " + std::to_string(kMaxPicturesPerFile) +
                    " pictures, more than one conversion takes";
            pages.clear();
            return false;
        }
        Bitmap page;
        std::string pageError;
        if (!readPage(tif, page, pageError)) {
            if (pages.empty()) {
                error = pageError;
                return false;
            }
            break; // a damaged later page ends the file; the pages read stay
        }
        // Every page is held at once, so the pages together stay within one picture's cap.
        total += page.pixels.size() + kPictureOverheadBytes;
        if (total > kMaxPictureBytes) {
            error = "the pages of this TIFF file need more memory than a job may allocate";
            pages.clear();
            return false;
        }
        pages.push_back(std::move(page));
    } while (TIFFReadDirectory(tif));
    return true;
}

bool writePage(TIFF* tif, const Bitmap& input, const TIFFWriteSettings& s, int pageCount,
               std::string& error) {
    const bool fax = s.compression == COMPRESSION_CCITTFAX3;
    Bitmap converted;
    if (fax)
        converted = convertBitmap(input, ColorModel::Gray, false);
    else if (input.hasAlpha && !s.keepAlpha)
        converted = flattenAlpha(input);
    const Bitmap& b = converted.pixels.empty() ? input : converted;
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, std::uint32_t(b.width));
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, std::uint32_t(b.height));
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_ORIENTATION,
                 std::uint16_t(s.orientation >= 1 && s.orientation <= 8 ? s.orientation : 1));
    if (pageCount > 1) {
        TIFFSetField(tif, TIFFTAG_SUBFILETYPE, FILETYPE_PAGE);
    }
    double dpiX = s.dpiX, dpiY = s.dpiY;
    if (fax && !(dpiX > 0 && dpiY > 0))
        dpiX = dpiY = 200;
    if (std::isfinite(dpiX) && std::isfinite(dpiY) && dpiX > 0 && dpiY > 0) {
        TIFFSetField(tif, TIFFTAG_XRESOLUTION, float(dpiX));
        TIFFSetField(tif, TIFFTAG_YRESOLUTION, float(dpiY));
        TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
    }
    if (fax) {
        TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 1);
        TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
        TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
        TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX3);
        TIFFSetField(tif, TIFFTAG_GROUP3OPTIONS, 0);
        TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, std::uint32_t(b.height));
        std::vector<std::uint8_t> line(std::size_t((b.width + 7) / 8));
        for (std::int64_t y = 0; y < b.height; ++y) {
            std::fill(line.begin(), line.end(), 0);
            const std::uint8_t* r = b.row(y);
            for (std::int64_t x = 0; x < b.width; ++x)
                if (r[x] < 128)
                    line[std::size_t(x / 8)] |= std::uint8_t(0x80 >> (x % 8));
            if (TIFFWriteScanline(tif, line.data(), std::uint32_t(y), 0) < 0) {
                error = "TIFF fax encoding failed";
                return false;
            }
        }
        return TIFFWriteDirectory(tif) != 0;
    }
    // A page carried over from a file with 16-bit samples keeps them.
    const bool deep = &b == &input && input.hasDeepPixels();
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, deep ? 16 : 8);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, std::uint16_t(b.channels()));
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC,
                 b.model == ColorModel::Gray  ? PHOTOMETRIC_MINISBLACK
                 : b.model == ColorModel::RGB ? PHOTOMETRIC_RGB
                                              : PHOTOMETRIC_SEPARATED);
    if (b.model == ColorModel::CMYK)
        TIFFSetField(tif, TIFFTAG_INKSET, INKSET_CMYK);
    if (b.hasAlpha) {
        const std::uint16_t type = EXTRASAMPLE_UNASSALPHA;
        TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, 1, &type);
    }
    TIFFSetField(tif, TIFFTAG_COMPRESSION,
                 s.compression == COMPRESSION_LZW ? COMPRESSION_LZW : COMPRESSION_NONE);
    if (s.compression == COMPRESSION_LZW)
        TIFFSetField(tif, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL);
    if (!b.iccProfile.empty() && b.model == input.model)
        TIFFSetField(tif, TIFFTAG_ICCPROFILE, std::uint32_t(b.iccProfile.size()),
                     b.iccProfile.data());
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(tif, 0));
    std::vector<std::uint8_t> line(b.rowBytes() * (deep ? 2 : 1));
    for (std::int64_t y = 0; y < b.height; ++y) {
        // libtiff's predictor works in place, so each row goes through a copy.
        std::memcpy(line.data(),
                    deep ? static_cast<const void*>(b.deepRow(y))
                         : static_cast<const void*>(b.row(y)),
                    line.size());
        if (TIFFWriteScanline(tif, line.data(), std::uint32_t(y), 0) < 0) {
            error = "TIFF encoding failed";
            return false;
        }
    }
    if (!TIFFWriteDirectory(tif)) {
        error = "TIFF encoding failed";
        return false;
    }
    return true;
}

} // namespace

bool readTIFFFile(const std::filesystem::path& path, std::vector<Bitmap>& pages,
                  std::string& error) {
    QuietLibtiff quiet;
    TIFF* tif = TIFFOpen(path.c_str(), "rm");
    if (!tif) {
        error = "not a readable TIFF file";
        return false;
    }
    const bool ok = readAllPages(tif, pages, error);
    TIFFClose(tif);
    return ok;
}

bool decodeTIFFBitmaps(const std::uint8_t* bytes, std::size_t length, std::vector<Bitmap>& pages,
                       std::string& error) {
    QuietLibtiff quiet;
    MemoryFile file;
    file.readData = bytes;
    file.size = length;
    TIFF* tif = TIFFClientOpen("memory", "rm", &file, memoryRead, memoryWrite, memorySeek,
                               memoryClose, memorySize, memoryMap, memoryUnmap);
    if (!tif) {
        error = "not readable TIFF data";
        return false;
    }
    const bool ok = readAllPages(tif, pages, error);
    TIFFClose(tif);
    return ok;
}

namespace {

bool writeAllPages(TIFF* tif, const std::vector<const Bitmap*>& pages,
                   const TIFFWriteSettings& settings, std::string& error) {
    for (const Bitmap* page : pages)
        if (!page || page->empty() || !writePage(tif, *page, settings, int(pages.size()), error)) {
            if (error.empty())
                error = "no picture to encode";
            return false;
        }
    return true;
}

bool needsBigTIFF(const std::vector<const Bitmap*>& pages) {
    std::uint64_t estimate = 0;
    for (const Bitmap* page : pages)
        estimate += page ? page->pixels.size() * (page->hasDeepPixels() ? 2 : 1) : 0;
    return estimate > (std::uint64_t(3) << 30);
}

} // namespace

bool encodeTIFFBitmaps(const std::vector<const Bitmap*>& pages, const TIFFWriteSettings& settings,
                       std::vector<std::uint8_t>& out, std::string& error) {
    if (pages.empty()) {
        error = "no picture to encode";
        return false;
    }
    QuietLibtiff quiet;
    std::vector<std::uint8_t> bytes;
    MemoryFile file;
    file.writeData = &bytes;
    TIFF* tif =
        TIFFClientOpen("memory", needsBigTIFF(pages) ? "w8" : "w", &file, memoryRead, memoryWrite,
                       memorySeek, memoryClose, memorySize, memoryMap, memoryUnmap);
    if (!tif) {
        error = "TIFF writer could not be made";
        return false;
    }
    const bool ok = writeAllPages(tif, pages, settings, error);
    TIFFClose(tif);
    if (!ok)
        return false;
    bytes.resize(file.size);
    out.swap(bytes);
    return true;
}

bool writeTIFFFile(const std::filesystem::path& path, const std::vector<const Bitmap*>& pages,
                   const TIFFWriteSettings& settings, std::string& error) {
    if (pages.empty()) {
        error = "no picture to encode";
        return false;
    }
    QuietLibtiff quiet;
    TIFF* tif = TIFFOpen(path.c_str(), needsBigTIFF(pages) ? "w8" : "w");
    if (!tif) {
        error = "cannot create " + path.string();
        return false;
    }
    bool ok = writeAllPages(tif, pages, settings, error);
    TIFFClose(tif);
    if (!ok) {
        std::error_code ignored;
        std::filesystem::remove(path, ignored);
    }
    return ok;
}

} // namespace conversion
