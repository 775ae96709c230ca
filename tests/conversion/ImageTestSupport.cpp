#include "ImageTestSupport.h"

#include <algorithm>
#include <cmath>
#include <mutex>
#include <tiffio.h>

namespace imagetest {

namespace {

void initialise() {
    static std::once_flag once;
    std::call_once(once, [] { Magick::InitializeMagick(nullptr); });
}

} // namespace

Magick::Image gradient(std::size_t w, std::size_t h, bool alpha) {
    initialise();
    std::vector<std::uint8_t> samples(w * h * (alpha ? 4 : 3));
    std::size_t i = 0;
    for (std::size_t y = 0; y < h; ++y)
        for (std::size_t x = 0; x < w; ++x) {
            samples[i++] = std::uint8_t(x * 255 / (w > 1 ? w - 1 : 1));
            samples[i++] = std::uint8_t(y * 255 / (h > 1 ? h - 1 : 1));
            samples[i++] = std::uint8_t(((x + y) * 255) / (w + h));
            if (alpha)
                samples[i++] = std::uint8_t(255 - x * 200 / (w > 1 ? w - 1 : 1));
        }
    Magick::Image image(w, h, alpha ? "RGBA" : "RGB", Magick::CharPixel, samples.data());
    image.depth(8);
    return image;
}

void writeWith(Magick::Image image, const std::string& coder, const fs::path& path) {
    initialise();
    image.magick(coder);
    image.write(coder + ":" + path.string());
}

Pixels pixelsOf(Magick::Image image) {
    Pixels p;
    p.width = image.columns();
    p.height = image.rows();
    p.alpha = image.matte();
    p.rgba.resize(p.width * p.height * 4);
    if (image.colorSpace() == MagickCore::CMYKColorspace)
        image.colorSpace(MagickCore::sRGBColorspace);
    image.write(0, 0, p.width, p.height, "RGBA", Magick::CharPixel, p.rgba.data());
    return p;
}

Pixels readPixels(const fs::path& path, const std::string& coder) {
    initialise();
    Magick::Image image;
    image.quiet(true);
    image.read(coder.empty() ? path.string() : coder + ":" + path.string());
    return pixelsOf(image);
}

int maxDifference(const Pixels& a, const Pixels& b) {
    if (a.width != b.width || a.height != b.height)
        return 1000;
    int worst = 0;
    const bool alpha = a.alpha && b.alpha;
    for (std::size_t i = 0; i < a.rgba.size(); ++i) {
        if (i % 4 == 3 && !alpha)
            continue;
        worst = std::max(worst, std::abs(int(a.rgba[i]) - int(b.rgba[i])));
    }
    return worst;
}

double meanDifference(const Pixels& a, const Pixels& b) {
    if (a.width != b.width || a.height != b.height)
        return 1000;
    double sum = 0;
    std::size_t n = 0;
    for (std::size_t i = 0; i < a.rgba.size(); ++i) {
        if (i % 4 == 3)
            continue;
        sum += std::abs(int(a.rgba[i]) - int(b.rgba[i]));
        ++n;
    }
    return n ? sum / double(n) : 0;
}

double dpiOf(const fs::path& file, const std::string& coder) {
    initialise();
    Magick::Image image;
    image.quiet(true);
    image.read(coder.empty() ? file.string() : coder + ":" + file.string());
    const double dpi = image.density().width();
    return image.resolutionUnits() == Magick::PixelsPerCentimeterResolution ? dpi * 2.54 : dpi;
}

std::vector<TIFFPageInfo> readTIFFPages(const fs::path& path) {
    std::vector<TIFFPageInfo> pages;
    TIFFSetWarningHandler(nullptr);
    TIFF* tif = TIFFOpen(path.c_str(), "r");
    if (!tif)
        return pages;
    do {
        TIFFPageInfo info;
        TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &info.width);
        TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &info.height);
        TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &info.samples);
        TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &info.photometric);
        std::uint16_t* types = nullptr;
        TIFFGetFieldDefaulted(tif, TIFFTAG_EXTRASAMPLES, &info.extraSamples, &types);
        TIFFGetField(tif, TIFFTAG_PAGENUMBER, &info.pageNumber, &info.pageCount);
        TIFFGetField(tif, TIFFTAG_COMPRESSION, &info.compression);
        TIFFGetField(tif, TIFFTAG_RESOLUTIONUNIT, &info.resolutionUnit);
        TIFFGetField(tif, TIFFTAG_ORIENTATION, &info.orientation);
        TIFFGetField(tif, TIFFTAG_XRESOLUTION, &info.xResolution);
        TIFFGetField(tif, TIFFTAG_YRESOLUTION, &info.yResolution);
        std::vector<std::uint8_t> row(std::size_t(TIFFScanlineSize(tif)));
        for (std::uint32_t y = 0; y < info.height; ++y) {
            if (TIFFReadScanline(tif, row.data(), y, 0) < 0)
                break;
            if (y == 0)
                info.firstPixel.assign(row.begin(), row.begin() + info.samples);
            if (y == info.height / 2) {
                const std::size_t at = std::size_t(info.width / 2) * info.samples;
                info.centrePixel.assign(row.begin() + std::ptrdiff_t(at),
                                        row.begin() + std::ptrdiff_t(at + info.samples));
            }
        }
        pages.push_back(info);
    } while (TIFFReadDirectory(tif));
    TIFFClose(tif);
    return pages;
}

} // namespace imagetest
