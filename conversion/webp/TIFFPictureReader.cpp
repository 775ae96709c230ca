#include "ConversionLog.h"
#include "ImageFileReaders.h"
#include "PictureSizeCheck.h"

#include <tiffio.h>

namespace {

// Copies a counted tag (ICC profile, XMP packet) when the directory has it. Answers 0 only when
// the tag is there and its copy failed.
int CopyTIFFTag(TIFF* tif, ttag_t tag, MetadataBuffer* buffer) {
    uint32_t count = 0;
    void* data = nullptr;
    if (!TIFFGetField(tif, tag, &count, &data) || count == 0 || !data)
        return 1;
    return CopyMetadataBuffer(static_cast<const std::uint8_t*>(data), count, buffer);
}

} // namespace

// Straight colour from premultiplied colour, rounded; fully transparent pixels stay black.
static void UnpremultiplyRGBA(std::uint8_t* rgba, std::size_t pixels) {
    for (std::size_t i = 0; i < pixels; ++i, rgba += 4) {
        const unsigned alpha = rgba[3];
        if (alpha == 0 || alpha == 255)
            continue;
        for (int c = 0; c < 3; ++c) {
            const unsigned straight = (unsigned(rgba[c]) * 255 + alpha / 2) / alpha;
            rgba[c] = std::uint8_t(straight > 255 ? 255 : straight);
        }
    }
}

int ReadTIFFPicture(const char* path, WebPPicture* picture, int keepAlpha,
                    ImageMetadata* metadata) {
    if (!path || !picture)
        return 0;
    TIFF* tif = TIFFOpen(path, "r");
    if (!tif) {
        ConversionLogf("Error! Cannot open TIFF file '%s'\n", path);
        return 0;
    }
    const tdir_t directories = TIFFNumberOfDirectories(tif);
    if (directories >= 2)
        ConversionLogf("Warning: multi-directory TIFF files are not supported.\n"
                       "Only the first will be used, %d will be ignored.\n",
                       int(directories) - 1);
    uint32_t width = 0;
    uint32_t height = 0;
    if (!TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &width) ||
        !TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &height)) {
        ConversionLogf("Error! Cannot retrieve TIFF image dimensions.\n");
        TIFFClose(tif);
        return 0;
    }
    std::size_t bytes = 0;
    if (!checkReadablePictureSize(width, height, 4, &bytes)) {
        TIFFClose(tif);
        return 0;
    }
    auto* raster = static_cast<uint32_t*>(_TIFFmalloc(tmsize_t(bytes)));
    if (!raster) {
        ConversionLogf("Error allocating TIFF RGBA memory!\n");
        TIFFClose(tif);
        return 0;
    }
    int ok = TIFFReadRGBAImageOriented(tif, width, height, raster, ORIENTATION_TOPLEFT, 1);
    if (ok) {
        picture->width = int(width);
        picture->height = int(height);
        picture->use_argb = 1;
        // libtiff packs A << 24 | B << 16 | G << 8 | R: bytes R, G, B, A on this little-endian
        // platform.
        auto* rgba = reinterpret_cast<std::uint8_t*>(raster);
        const int stride = int(width) * 4;
        // libtiff's RGBA interface hands colours premultiplied by alpha, whichever kind of alpha
        // the file holds; WebP stores them straight, so undo it.
        uint16_t extraCount = 0;
        uint16_t* extraTypes = nullptr;
        TIFFGetFieldDefaulted(tif, TIFFTAG_EXTRASAMPLES, &extraCount, &extraTypes);
        if (keepAlpha && extraCount > 0)
            UnpremultiplyRGBA(rgba, std::size_t(width) * height);
        ok = keepAlpha ? WebPPictureImportRGBA(picture, rgba, stride)
                       : WebPPictureImportRGBX(picture, rgba, stride);
    }
    _TIFFfree(raster);
    if (!ok || !metadata) {
        TIFFClose(tif);
        if (!ok)
            FreeImageMetadata(metadata);
        return ok;
    }
    if (!CopyTIFFTag(tif, TIFFTAG_ICCPROFILE, &metadata->iccp) ||
        !CopyTIFFTag(tif, TIFFTAG_XMLPACKET, &metadata->xmp)) {
        ConversionLogf("Error extracting TIFF metadata!\n");
        FreeImageMetadata(metadata);
        WebPPictureFree(picture);
        TIFFClose(tif);
        return 0;
    }
    uint64_t exifOffset = 0;
    if (TIFFGetField(tif, TIFFTAG_EXIFIFD, &exifOffset))
        ConversionLogf("Warning: EXIF extraction from TIFF is unsupported.\n");
    TIFFClose(tif);
    return 1;
}
