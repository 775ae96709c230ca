#include "FuzzCheck.h"
#include "FuzzTargets.h"

#include "CameraRawCodec.h"
#include "FaxCodec.h"
#include "ICNSCodec.h"
#include "ImageFormats.h"
#include "JPEG2000Codec.h"
#include "JPEGMemoryCodec.h"
#include "MagickCodec.h"
#include "PNGCodec.h"
#include "PixelLimits.h"
#include "TIFFCodec.h"

#include <string>
#include <vector>

namespace fuzz {

namespace {

using conversion::Bitmap;

bool one(bool ok, Bitmap& b, std::vector<Bitmap>& out) {
    if (ok)
        out.push_back(std::move(b));
    return ok;
}

// The reader of every format code that reads from memory, forced whatever the content says.
// PDF (8) and WebP (24) are read through files by their own routes; the TIFF variants (13, 23)
// share the TIFF reader; Illustrator, QuickTime and FlashPix (15, 17, 20) have none.
bool readAs(std::int32_t code, const std::uint8_t* data, std::size_t size, std::vector<Bitmap>& out,
            std::string& error) {
    using namespace conversion;
    Bitmap b;
    switch (code) {
    case kFormatJPEG:
        return one(decodeJPEGBitmap(data, size, b, error), b, out);
    case kFormatPNG:
        return one(decodePNGBitmap(data, size, b, error), b, out);
    case kFormatJPEG2000:
        return one(decodeJPEG2000Bitmap(data, size, b, error), b, out);
    case kFormatTIFF:
        return decodeTIFFBitmaps(data, size, out, error);
    case kFormatAppleIcon:
        return decodeICNSBitmaps(data, size, out, error);
    case kFormatCameraRaw:
        return one(decodeCameraRawBitmap(data, size, b, error), b, out);
    case kFormatFax:
        return one(decodeRawFaxBitmap(data, size, b, error), b, out);
    case kFormatPhotoshop:
        return decodeMagickBitmaps(data, size, "PSD", out, error);
    case kFormatGIF:
        return decodeMagickBitmaps(data, size, "GIF", out, error);
    case kFormatOpenEXR:
        return decodeMagickBitmaps(data, size, "EXR", out, error);
    case kFormatTGA:
        return decodeMagickBitmaps(data, size, "TGA", out, error);
    case kFormatBMP:
        return decodeMagickBitmaps(data, size, "BMP", out, error);
    case kFormatSGI:
        return decodeMagickBitmaps(data, size, "SGI", out, error);
    case kFormatPICT:
        return decodeMagickBitmaps(data, size, "PICT", out, error);
    case kFormatMacPaint:
        return decodeMagickBitmaps(data, size, "MAC", out, error);
    case kFormatWindowsIcon:
        return decodeMagickBitmaps(data, size, "ICO", out, error);
    case kFormatXBitmap:
        return decodeMagickBitmaps(data, size, "XBM", out, error);
    default:
        return false;
    }
}

constexpr std::int32_t kReaders[] = {
    conversion::kFormatPhotoshop, conversion::kFormatGIF,         conversion::kFormatJPEG2000,
    conversion::kFormatJPEG,      conversion::kFormatOpenEXR,     conversion::kFormatAppleIcon,
    conversion::kFormatPNG,       conversion::kFormatTGA,         conversion::kFormatTIFF,
    conversion::kFormatBMP,       conversion::kFormatSGI,         conversion::kFormatPICT,
    conversion::kFormatMacPaint,  conversion::kFormatWindowsIcon, conversion::kFormatXBitmap,
    conversion::kFormatFax,       conversion::kFormatCameraRaw,
};

} // namespace

// Input: one byte whose value picks the format code of the reader (the code itself when it has
// a reader, else taken modulo the readers), then the file's bytes.
int fuzzImagereader(const uint8_t* data, size_t size) {
    if (size < 1)
        return 0;
    std::int32_t code = data[0];
    bool known = false;
    for (std::int32_t r : kReaders)
        known = known || r == code;
    if (!known)
        code = kReaders[data[0] % (sizeof kReaders / sizeof kReaders[0])];
    std::vector<Bitmap> pictures;
    std::string error;
    const bool ok = readAs(code, data + 1, size - 1, pictures, error);
    if (!ok) {
        check(!error.empty(), "a refused picture says why");
        return 0;
    }
    check(!pictures.empty(), "a read file holds a picture");
    for (const Bitmap& b : pictures) {
        check(b.width > 0 && b.height > 0, "picture has a size");
        check(std::uint64_t(b.width) * std::uint64_t(b.height) <= conversion::kMaxPixels,
              "picture within the pixel cap");
        check(b.channels() >= 1 && b.channels() <= 5, "picture channels");
        check(b.pixels.size() == b.rowBytes() * std::size_t(b.height), "pixel buffer size");
        check(b.dpiX >= 0 && b.dpiY >= 0, "resolution not negative");
    }
    return 0;
}

} // namespace fuzz
