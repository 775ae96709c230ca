#include "ImageCodecs.h"

#include "CameraRawCodec.h"
#include "EXRCodec.h"
#include "FaxCodec.h"
#include "GIFCodec.h"
#include "ICNSCodec.h"
#include "ImageFormats.h"
#include "ImageMetadataCopier.h"
#include "JPEG2000Codec.h"
#include "JPEGMemoryCodec.h"
#include "MagickCodec.h"
#include "PDFImageWriter.h"
#include "PNGCodec.h"
#include "TIFFCodec.h"
#include "WebPCodec.h"

#include <algorithm>
#include <cmath>

namespace conversion {

namespace {

int jpegQuality(const EncoderProperties& p) {
    const double q = p.hasQuality && std::isfinite(p.quality) ? p.quality : 0.85;
    return int(std::lround(std::clamp(q, 0.0, 1.0) * 100.0));
}

bool formatTakesMetadata(std::int32_t f) {
    return f == 1 || f == 4 || f == 7 || f == 10 || f == 13;
}

} // namespace

bool canWriteFormat(std::int32_t format, std::string* reason) {
    const char* why = nullptr;
    switch (format) {
    case kFormatMacPaint:
        why = "MacPaint files can be read but not written";
        break;
    case kFormatQuickTimeImage:
        why = "QuickTime image files cannot be written";
        break;
    case kFormatFlashPix:
        why = "FlashPix files cannot be written";
        break;
    case kFormatCameraRaw:
        why = "camera raw files cannot be written";
        break;
    default:
        if (!isKnownFormatCode(format))
            why = "unknown output format code";
    }
    if (why && reason)
        *reason = why;
    return why == nullptr;
}

bool encodeBitmap(const Bitmap& bitmap, std::int32_t format, const EncoderProperties& p,
                  std::vector<std::uint8_t>& out, std::string& error) {
    if (!canWriteFormat(format, &error))
        return false;
    if (bitmap.empty()) {
        error = "no picture to encode";
        return false;
    }
    const double dpiX = p.hasResolution ? p.dpiX : 0;
    const double dpiY = p.hasResolution ? p.dpiY : 0;
    bool ok = false;
    bool orientationWritten = false;
    switch (format) {
    case kFormatNone:
    case kFormatJPEG:
        ok = encodeJPEGBitmap(bitmap, jpegQuality(p), dpiX, dpiY, out, error);
        break;
    case kFormatWebP:
        // A file named .webp holds WebP, whichever path of the job writes it.
        ok = encodeWebPBitmap(bitmap, jpegQuality(p) / 100.0, {}, out, error);
        orientationWritten = true;
        break;
    case kFormatJPEG2000:
        ok = encodeJPEG2000Bitmap(bitmap, p.hasQuality ? p.quality : 0.85, p.hasAlpha, out, error);
        break;
    case kFormatPNG:
        ok = encodePNGBitmap(bitmap, p.hasAlpha, dpiX, dpiY, out, error);
        break;
    case kFormatTIFF:
    case kFormatCMYKTIFF:
    case kFormatMultiPageTIFF:
    case kFormatFax: {
        TIFFWriteSettings s;
        s.compression = format == kFormatFax ? 3 : p.tiffCompression == 5 ? 5 : 1;
        s.keepAlpha = format == kFormatTIFF;
        s.dpiX = dpiX;
        s.dpiY = dpiY;
        s.orientation = p.orientation;
        orientationWritten = true;
        ok = encodeTIFFBitmaps({&bitmap}, s, out, error);
        break;
    }
    case kFormatGIF:
        ok = encodeGIFBitmap(bitmap, p.hasAlpha, out, error);
        break;
    case kFormatOpenEXR:
        ok = encodeEXRBitmap(bitmap, out, error);
        break;
    case kFormatAppleIcon:
        ok = encodeICNSBitmap(bitmap, out, error);
        break;
    case kFormatPDF: {
        PDFImageWriter writer;
        writer.addPage(bitmap, dpiX, dpiY);
        ok = writer.write(out, error);
        orientationWritten = true;
        break;
    }
    default:
        ok = encodeMagickBitmap(bitmap, magickCoderForOutput(format), false, jpegQuality(p) / 100.0,
                                dpiX, dpiY, out, error);
        break;
    }
    if (!ok)
        return false;
    if (!p.metadataSource.empty() && formatTakesMetadata(format)) {
        MetadataPatch patch;
        patch.orientation = p.orientation;
        patch.dpiX = dpiX;
        patch.dpiY = dpiY;
        return copyImageMetadata(p.metadataSource, out, patch, error);
    }
    if (p.orientation >= 1 && p.orientation <= 8 && !orientationWritten &&
        (format == kFormatJPEG || format == kFormatNone || format == kFormatPNG ||
         format == kFormatPhotoshop))
        return writeImageOrientation(out, p.orientation, error);
    return true;
}

bool decodeImageBytes(const std::uint8_t* bytes, std::size_t length, const std::string& extension,
                      std::vector<Bitmap>& pictures, std::string& error) {
    pictures.clear();
    const std::string uti = typeIdentifierOfBytes(bytes, length);
    if (uti == "public.jpeg" || uti == "public.png" || uti == "public.jpeg-2000") {
        Bitmap b;
        const bool ok = uti == "public.jpeg"  ? decodeJPEGBitmap(bytes, length, b, error)
                        : uti == "public.png" ? decodePNGBitmap(bytes, length, b, error)
                                              : decodeJPEG2000Bitmap(bytes, length, b, error);
        if (ok)
            pictures.push_back(std::move(b));
        return ok;
    }
    // Camera raw files are TIFF inside (DNG and most makers' own) or have no signature at all.
    if ((uti == "public.tiff" || uti.empty()) && isCameraRawData(bytes, length, extension)) {
        Bitmap b;
        if (!decodeCameraRawBitmap(bytes, length, b, error))
            return false;
        pictures.push_back(std::move(b));
        return true;
    }
    if (uti == "public.tiff")
        return decodeTIFFBitmaps(bytes, length, pictures, error);
    if (uti == "com.apple.icns")
        return decodeICNSBitmaps(bytes, length, pictures, error);
    if (uti.empty() && isRawFaxExtension(extension)) {
        Bitmap b;
        if (!decodeRawFaxBitmap(bytes, length, b, error))
            return false;
        pictures.push_back(std::move(b));
        return true;
    }
    const std::string coder = magickCoderForInput(uti, extension);
    if (coder.empty()) {
        error = uti.empty() ? "not an image format this program reads"
                            : "this kind of image (" + uti + ") cannot be read here";
        return false;
    }
    return decodeMagickBitmaps(bytes, length, coder, pictures, error);
}

} // namespace conversion
