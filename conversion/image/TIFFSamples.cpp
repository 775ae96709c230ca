#include "TIFFSamples.h"

#include "PixelLimits.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>
#include <vector>

namespace conversion {

namespace {

ColorModel modelOf(const TIFFPageLayout& l) {
    return l.photometric == PHOTOMETRIC_SEPARATED ? ColorModel::CMYK
           : l.photometric == PHOTOMETRIC_RGB     ? ColorModel::RGB
                                                  : ColorModel::Gray;
}

int colourSamples(const TIFFPageLayout& l) {
    return l.photometric == PHOTOMETRIC_SEPARATED ? 4 : l.photometric == PHOTOMETRIC_RGB ? 3 : 1;
}

// One sample as 8 bits: 16-bit samples rounded, floats (0 to 1) clamped.
inline std::uint8_t to8(const std::uint8_t* p, const TIFFPageLayout& l) {
    if (l.bits == 8)
        return *p;
    if (l.bits == 16) {
        std::uint16_t v;
        std::memcpy(&v, p, 2);
        return std::uint8_t((std::uint32_t(v) * 255 + 32767) / 65535);
    }
    float f;
    std::memcpy(&f, p, 4);
    if (!(f > 0)) // also NaN
        return 0;
    return f >= 1 ? 255 : std::uint8_t(std::lround(f * 255.0f));
}

// Copies a chunk (a strip or a tile) of `chunkWidth` x `rows` pixels whose top left is at (x0,
// y0) into the page; `plane` is the sample of a planar chunk, -1 for interleaved samples.
void placeChunk(const std::uint8_t* data, std::size_t chunkWidth, std::size_t rows,
                std::uint32_t x0, std::uint32_t y0, int plane, const TIFFPageLayout& l,
                Bitmap& page) {
    const std::size_t bytesPerSample = l.bits / 8;
    const int perPixel = plane < 0 ? l.samples : 1;
    const std::size_t stride = chunkWidth * std::size_t(perPixel) * bytesPerSample;
    const int colours = colourSamples(l);
    const int channels = page.channels();
    // Where each sample of the chunk goes in the page's pixel; -1: nowhere (extra samples).
    int target[16];
    for (int k = 0; k < perPixel && k < 16; ++k) {
        const int sample = plane < 0 ? k : plane;
        target[k] = sample < colours ? sample : (page.hasAlpha && sample == colours) ? colours : -1;
    }
    const std::size_t width = std::min<std::size_t>(chunkWidth, l.width - x0);
    const std::size_t height = std::min<std::size_t>(rows, l.height - y0);
    const bool deep = page.hasDeepPixels();
    // 8-bit samples that are the page's own, in its order: whole rows are copied.
    bool same = l.bits == 8 && perPixel == channels;
    for (int k = 0; same && k < perPixel; ++k)
        same = target[k] == k;
    if (same) {
        for (std::size_t r = 0; r < height; ++r)
            std::memcpy(page.row(std::int64_t(y0 + r)) + std::size_t(x0) * std::size_t(channels),
                        data + r * stride, width * std::size_t(channels));
        return;
    }
    for (std::size_t r = 0; r < height; ++r) {
        const std::uint8_t* in = data + r * stride;
        const std::size_t at =
            std::size_t(y0 + r) * page.rowBytes() + std::size_t(x0) * std::size_t(channels);
        std::uint8_t* out = page.pixels.data() + at;
        std::uint16_t* deepOut = deep ? page.deepPixels.data() + at : nullptr;
        for (std::size_t x = 0; x < width; ++x, out += channels)
            for (int k = 0; k < perPixel; ++k, in += bytesPerSample)
                if (k < 16 && target[k] >= 0) {
                    out[target[k]] = to8(in, l);
                    if (deepOut)
                        std::memcpy(deepOut + std::size_t(x) * std::size_t(channels) +
                                        std::size_t(target[k]),
                                    in, 2);
                }
    }
}

} // namespace

TIFFPageLayout readTIFFPageLayout(TIFF* tif) {
    TIFFPageLayout l;
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &l.width);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &l.height);
    TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &l.bits);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLEFORMAT, &l.sampleFormat);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &l.samples);
    TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &l.planar);
    TIFFGetFieldDefaulted(tif, TIFFTAG_INKSET, &l.inkset);
    TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &l.compression);
    std::uint16_t* extraTypes = nullptr;
    TIFFGetFieldDefaulted(tif, TIFFTAG_EXTRASAMPLES, &l.extraCount, &extraTypes);
    l.associatedAlpha = l.extraCount > 0 && extraTypes && extraTypes[0] == EXTRASAMPLE_ASSOCALPHA;
    if (!TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &l.photometric))
        l.photometric = l.samples >= 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK;
    return l;
}

bool canReadTIFFSamples(const TIFFPageLayout& l) {
    const bool integer = (l.bits == 8 || l.bits == 16) && l.sampleFormat == SAMPLEFORMAT_UINT;
    const bool real = l.bits == 32 && l.sampleFormat == SAMPLEFORMAT_IEEEFP;
    const bool space = l.photometric == PHOTOMETRIC_MINISBLACK ||
                       l.photometric == PHOTOMETRIC_MINISWHITE ||
                       l.photometric == PHOTOMETRIC_RGB ||
                       (l.photometric == PHOTOMETRIC_SEPARATED && l.inkset == INKSET_CMYK);
    return (integer || real) && space && l.compression != COMPRESSION_OJPEG &&
           l.samples >= colourSamples(l) && l.samples <= 16 &&
           (l.planar == PLANARCONFIG_CONTIG || l.planar == PLANARCONFIG_SEPARATE);
}

bool readTIFFSamples(TIFF* tif, const TIFFPageLayout& l, Bitmap& page, std::string& error) {
    const bool alpha = l.extraCount > 0 && l.samples > colourSamples(l);
    if (!page.allocate(l.width, l.height, modelOf(l), alpha, &error))
        return false;
    // 16-bit samples are kept beside the 8-bit ones, for the writers that hold them.
    if (l.bits == 16 && l.sampleFormat == SAMPLEFORMAT_UINT) {
        try {
            page.deepPixels.resize(page.pixels.size());
        } catch (const std::bad_alloc&) {
            page.deepPixels.clear();
        }
    }
    const bool planar = l.planar == PLANARCONFIG_SEPARATE;
    const int planes = planar ? l.samples : 1;
    const std::size_t perPixel = std::size_t(planar ? 1 : l.samples) * (l.bits / 8);
    const bool tiled = TIFFIsTiled(tif);
    std::uint32_t chunkWidth = l.width, chunkHeight = 0;
    if (tiled) {
        TIFFGetField(tif, TIFFTAG_TILEWIDTH, &chunkWidth);
        TIFFGetField(tif, TIFFTAG_TILELENGTH, &chunkHeight);
    } else {
        TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &chunkHeight);
        chunkHeight = std::min(chunkHeight, l.height);
    }
    const std::uint64_t chunkBytes = std::uint64_t(chunkWidth) * chunkHeight * perPixel;
    if (chunkWidth == 0 || chunkHeight == 0 || chunkBytes > kMaxPictureBytes ||
        chunkBytes > std::uint64_t(tiled ? TIFFTileSize64(tif) : TIFFStripSize64(tif))) {
        error = "unsupported TIFF layout";
        return false;
    }
    std::vector<std::uint8_t> buffer;
    try {
        buffer.resize(std::size_t(chunkBytes));
    } catch (const std::bad_alloc&) {
        error = "not enough memory for the TIFF page";
        return false;
    }
    const std::size_t rowBytes = std::size_t(chunkWidth) * perPixel;
    for (int p = 0; p < planes; ++p)
        for (std::uint32_t y = 0; y < l.height; y += chunkHeight)
            for (std::uint32_t x = 0; x < l.width; x += chunkWidth) {
                const tmsize_t got =
                    tiled
                        ? TIFFReadEncodedTile(tif, TIFFComputeTile(tif, x, y, 0, std::uint16_t(p)),
                                              buffer.data(), tmsize_t(chunkBytes))
                        : TIFFReadEncodedStrip(tif, TIFFComputeStrip(tif, y, std::uint16_t(p)),
                                               buffer.data(), tmsize_t(chunkBytes));
                if (got < 0) {
                    error = "damaged TIFF data";
                    return false;
                }
                // A short last strip holds only the rows that remain.
                const std::size_t rows = tiled ? chunkHeight : std::size_t(got) / rowBytes;
                placeChunk(buffer.data(), chunkWidth, rows, x, y, planar ? p : -1, l, page);
            }
    if (l.photometric == PHOTOMETRIC_MINISWHITE)
        for (std::int64_t y = 0; y < page.height; ++y) {
            std::uint8_t* row = page.row(y);
            for (std::int64_t x = 0; x < page.width; ++x)
                row[x * page.channels()] = std::uint8_t(255 - row[x * page.channels()]);
            if (page.hasDeepPixels()) {
                std::uint16_t* deepRow = page.deepPixels.data() + std::size_t(y) * page.rowBytes();
                for (std::int64_t x = 0; x < page.width; ++x)
                    deepRow[x * page.channels()] =
                        std::uint16_t(65535 - deepRow[x * page.channels()]);
            }
        }
    if (alpha && l.associatedAlpha)
        unpremultiplyAlpha(page);
    return true;
}

void unpremultiplyAlpha(Bitmap& b) {
    if (!b.hasAlpha)
        return;
    const int colours = b.colorChannels();
    const int channels = b.channels();
    const std::size_t count = std::size_t(b.width) * std::size_t(b.height);
    for (std::size_t i = 0; i < count; ++i) {
        std::uint8_t* p = &b.pixels[i * std::size_t(channels)];
        const unsigned a = p[colours];
        if (a == 255 || a == 0)
            continue;
        for (int c = 0; c < colours; ++c)
            p[c] = std::uint8_t(std::min(255u, (p[c] * 255u + a / 2) / a));
    }
    if (!b.hasDeepPixels())
        return;
    for (std::size_t i = 0; i < count; ++i) {
        std::uint16_t* p = &b.deepPixels[i * std::size_t(channels)];
        const std::uint32_t a = p[colours];
        if (a == 65535 || a == 0)
            continue;
        for (int c = 0; c < colours; ++c)
            p[c] = std::uint16_t(std::min<std::uint32_t>(65535u, (p[c] * 65535u + a / 2) / a));
    }
}

void readTIFFResolutionAndProfile(TIFF* tif, Bitmap& page) {
    float rx = 0, ry = 0;
    std::uint16_t unit = RESUNIT_INCH;
    TIFFGetFieldDefaulted(tif, TIFFTAG_RESOLUTIONUNIT, &unit);
    if (TIFFGetField(tif, TIFFTAG_XRESOLUTION, &rx) &&
        TIFFGetField(tif, TIFFTAG_YRESOLUTION, &ry) && std::isfinite(rx) && std::isfinite(ry) &&
        rx > 0 && ry > 0 && unit != RESUNIT_NONE) {
        const double f = unit == RESUNIT_CENTIMETER ? 2.54 : 1.0;
        page.dpiX = rx * f;
        page.dpiY = ry * f;
    }
    std::uint32_t iccLength = 0;
    void* icc = nullptr;
    if (TIFFGetField(tif, TIFFTAG_ICCPROFILE, &iccLength, &icc) && icc && iccLength)
        page.iccProfile.assign(static_cast<std::uint8_t*>(icc),
                               static_cast<std::uint8_t*>(icc) + iccLength);
}

} // namespace conversion
