#include "MagickCodec.h"

#include "ConversionLog.h"
#include "PixelLimits.h"

#include <Magick++.h>
#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <functional>
#include <mutex>

namespace conversion {

namespace {

void initialiseMagick() {
    static std::once_flag once;
    std::call_once(once, [] { Magick::InitializeMagick(nullptr); });
}

bool bitmapFromImage(Magick::Image& image, Bitmap& out, std::string& error) {
    const std::int64_t w = std::int64_t(image.columns());
    const std::int64_t h = std::int64_t(image.rows());
    const bool cmyk = image.colorSpace() == MagickCore::CMYKColorspace;
    const Magick::ImageType type = image.type();
    const bool gray = !cmyk && (type == Magick::GrayscaleType || type == Magick::BilevelType ||
                                type == Magick::GrayscaleMatteType);
    const bool alpha = image.matte();
    const ColorModel model = cmyk ? ColorModel::CMYK : gray ? ColorModel::Gray : ColorModel::RGB;
    if (!out.allocate(w, h, model, alpha, &error))
        return false;
    std::string map = cmyk ? "CMYK" : gray ? "I" : "RGB";
    if (alpha)
        map += "A";
    image.write(0, 0, std::size_t(w), std::size_t(h), map, Magick::CharPixel, out.pixels.data());
    // A picture of more than 8 bits a sample (a 16-bit Photoshop file) keeps them beside.
    if (image.depth() > 8) {
        out.deepPixels.resize(out.pixels.size());
        image.write(0, 0, std::size_t(w), std::size_t(h), map, Magick::ShortPixel,
                    out.deepPixels.data());
    }
    // The image's own figures: density() answers a default of 72 when the file records none.
    double dx = image.xResolution(), dy = image.yResolution();
    if (image.resolutionUnits() == Magick::PixelsPerCentimeterResolution) {
        dx *= 2.54;
        dy *= 2.54;
    }
    if (image.resolutionUnits() != Magick::UndefinedResolution && dx > 0 && dy > 0) {
        out.dpiX = dx;
        out.dpiY = dy;
    }
    return true;
}

// The frames of a GIF, counted by walking its blocks (at most `limit` + 1 are counted).
std::size_t gifFrameCount(const std::uint8_t* b, std::size_t n, std::size_t limit) {
    if (n < 13)
        return 0;
    std::size_t pos = 13;
    if (b[10] & 0x80)
        pos += 3 * (std::size_t(2) << (b[10] & 7));
    auto skipSubBlocks = [&] {
        while (pos < n && b[pos] != 0)
            pos += std::size_t(b[pos]) + 1;
        ++pos;
    };
    std::size_t frames = 0;
    while (pos < n && frames <= limit) {
        const std::uint8_t introducer = b[pos++];
        if (introducer == 0x21) { // extension: label, then data blocks
            ++pos;
            skipSubBlocks();
        } else if (introducer == 0x2C) { // image: descriptor, colour table, code size, data
            if (pos + 9 > n)
                break;
            const std::uint8_t packed = b[pos + 8];
            pos += 9;
            if (packed & 0x80)
                pos += 3 * (std::size_t(2) << (packed & 7));
            ++pos;
            skipSubBlocks();
            ++frames;
        } else {
            break; // the trailer, or damage
        }
    }
    return frames;
}

// How many pictures the file will give, and the memory they need held at once; false with a
// message when either is past the caps.
bool picturesWithinCaps(const std::uint8_t* bytes, std::size_t length, const std::string& coder,
                        std::int64_t width, std::int64_t height, std::string& error) {
    std::size_t count = 1;
    if (coder == "GIF") {
        count = gifFrameCount(bytes, length, kMaxPicturesPerFile);
        // Every frame is composed onto the whole canvas.
        if (length >= 10) {
            width = std::max<std::int64_t>(width, bytes[6] | bytes[7] << 8);
            height = std::max<std::int64_t>(height, bytes[8] | bytes[9] << 8);
        }
    } else if (coder == "ICO" && length >= 6) {
        count = std::size_t(bytes[4] | bytes[5] << 8);
    }
    if (count > kMaxPicturesPerFile) {
        error = "the file holds more than " + std::to_string(kMaxPicturesPerFile) +
                " pictures, more than one conversion takes";
        return false;
    }
    const std::uint64_t each =
        std::uint64_t(width) * std::uint64_t(height) * 4 + kPictureOverheadBytes;
    if (std::uint64_t(count) * each > kMaxPictureBytes) {
        error = "the " + std::to_string(count) +
                " pictures of this file need more memory than a job may allocate";
        return false;
    }
    return true;
}

// ImageMagick's reason alone: without the program's name before it, the empty file name it quotes
// for a blob, and its own source location after it (" @ error/bmp.c/ReadBMPImage/857").
std::string magickReason(const Magick::Exception& e) {
    std::string text = e.what();
    const std::size_t at = text.find(" @ ");
    if (at != std::string::npos)
        text.erase(at);
    const std::size_t colon = text.find(": ");
    if (colon != std::string::npos && text.find(' ') > colon)
        text.erase(0, colon + 2);
    for (const char* empty : {" `'", " ``", "`'"}) {
        const std::size_t i = text.find(empty);
        if (i != std::string::npos)
            text.erase(i, std::strlen(empty));
    }
    while (!text.empty() && (text.back() == ' ' || text.back() == '.'))
        text.pop_back();
    return text.empty() ? "ImageMagick gave no reason" : text;
}

// ImageMagick reports faults it read past (a header's size one byte short, say) as warnings, or as
// a corrupt-image error with the picture read all the same; its own programs then go on with the
// picture, and so does this. Anything else, or no picture, stays a failure.
template <typename Read> void readPastDamage(Read read, const std::function<bool()>& gotPicture) {
    try {
        read();
    } catch (const Magick::Warning& e) {
        ConversionLog("note: " + magickReason(e) + "; the picture is read as it is");
    } catch (const Magick::ErrorCorruptImage& e) {
        if (!gotPicture())
            throw;
        ConversionLog("note: " + magickReason(e) + "; the picture is read as it is");
    }
}

std::string megabytes(MagickCore::MagickSizeType bytes) {
    return std::to_string(bytes >> 20) + " MB";
}

} // namespace

bool withinMagickLimits(std::int64_t width, std::int64_t height, bool cmyk, std::string* error) {
    initialiseMagick();
    using namespace MagickCore;
    const MagickSizeType maxWidth = GetMagickResourceLimit(WidthResource);
    const MagickSizeType maxHeight = GetMagickResourceLimit(HeightResource);
    const MagickSizeType pixels = MagickSizeType(std::max<std::int64_t>(width, 0)) *
                                  MagickSizeType(std::max<std::int64_t>(height, 0));
    // ImageMagick keeps a picture in memory, in a mapped file or on disk, whichever its limits
    // allow, at 8 bytes a pixel (10 with CMYK's black) at this build's 16-bit depth; the coders
    // make a working copy besides.
    const MagickSizeType perPixel = cmyk ? 10 : 8;
    const MagickSizeType store =
        std::max({GetMagickResourceLimit(MemoryResource), GetMagickResourceLimit(MapResource),
                  GetMagickResourceLimit(DiskResource)});
    std::string why;
    if (width <= 0 || height <= 0)
        why = "the picture has no pixels";
    else if (MagickSizeType(width) > maxWidth || MagickSizeType(height) > maxHeight)
        why = "ImageMagick, which handles this format, is limited here to pictures of " +
              std::to_string(maxWidth) + " x " + std::to_string(maxHeight) +
              " pixels; this one is " + std::to_string(width) + " x " + std::to_string(height);
    else if (pixels > store / perPixel / 2)
        why = "ImageMagick, which handles this format, may use at most " + megabytes(store) +
              " here, too little for a picture of " + std::to_string(width) + " x " +
              std::to_string(height) + " pixels";
    if (!why.empty() && error)
        *error = why;
    return why.empty();
}

std::string magickCoderForInput(const std::string& uti, const std::string& extension) {
    if (uti == "com.adobe.photoshop-image")
        return "PSD";
    if (uti == "com.compuserve.gif")
        return "GIF";
    if (uti == "com.ilm.openexr-image")
        return "EXR";
    if (uti == "com.microsoft.bmp")
        return "BMP";
    if (uti == "com.sgi.sgi-image")
        return "SGI";
    if (uti == "com.microsoft.ico")
        return "ICO";
    if (uti == "public.xbitmap-image")
        return "XBM";
    if (uti == "com.truevision.tga-image")
        return "TGA";
    if (uti == "com.apple.pict")
        return "PICT";
    if (uti == "com.apple.macpaint-image")
        return "MAC";
    if (!uti.empty())
        return "";
    std::string ext = extension;
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    if (ext == "tga" || ext == "icb" || ext == "vda" || ext == "vst")
        return "TGA";
    if (ext == "pict" || ext == "pct" || ext == "pic")
        return "PICT";
    if (ext == "mac" || ext == "pntg" || ext == "pnt")
        return "MAC";
    return "";
}

std::string magickCoderForOutput(std::int32_t format) {
    switch (format) {
    case 1:
        return "PSD";
    case 9:
        return "TGA";
    case 11:
        return "BMP";
    case 12:
        return "SGI";
    case 14:
        return "PICT";
    case 15:
        return "AI"; // ImageMagick's Illustrator writer: the picture on a PDF page
    case 18:
        return "ICO";
    case 19:
        return "XBM";
    default:
        return "";
    }
}

bool decodeMagickBitmaps(const std::uint8_t* bytes, std::size_t length, const std::string& coder,
                         std::vector<Bitmap>& frames, std::string& error) {
    if (coder.empty() || !bytes || length == 0) {
        error = "no reader for this kind of image";
        return false;
    }
    initialiseMagick();
    frames.clear();
    try {
        // The frames are counted before ImageMagick looks: even its ping of a GIF holds a record
        // for every frame.
        if (!picturesWithinCaps(bytes, length, coder, 0, 0, error))
            return false;
        Magick::Blob blob(bytes, length);
        Magick::Image probe;
        probe.quiet(true);
        probe.magick(coder);
        // The ping's notes come again with the reading: only the reading's are told.
        try {
            probe.ping(blob);
        } catch (const Magick::Warning&) {
        } catch (const Magick::ErrorCorruptImage&) {
            if (probe.columns() == 0 || probe.rows() == 0)
                throw;
        }
        if (!checkedPictureBytes(std::int64_t(probe.columns()), std::int64_t(probe.rows()), 4,
                                 nullptr, &error) ||
            !withinMagickLimits(std::int64_t(probe.columns()), std::int64_t(probe.rows()),
                                probe.colorSpace() == MagickCore::CMYKColorspace, &error) ||
            !picturesWithinCaps(bytes, length, coder, std::int64_t(probe.columns()),
                                std::int64_t(probe.rows()), error))
            return false;
        std::vector<Magick::Image> images;
        if (coder == "GIF" || coder == "ICO") {
            Magick::ReadOptions options;
            options.quiet(true);
            // The coder is named, as for single pictures: ImageMagick finds no icon by content.
            MagickCore::CopyMagickString(options.imageInfo()->magick, coder.c_str(), MaxTextExtent);
            std::vector<Magick::Image> raw;
            readPastDamage([&] { Magick::readImages(&raw, blob, options); },
                           [&] { return !raw.empty(); });
            if (coder == "GIF" && raw.size() > 1)
                Magick::coalesceImages(&images, raw.begin(), raw.end());
            else
                images.swap(raw);
        } else {
            Magick::Image image;
            image.quiet(true);
            image.magick(coder);
            readPastDamage([&] { image.read(blob); },
                           [&] {
                               return image.columns() == probe.columns() &&
                                      image.rows() == probe.rows() && image.columns() > 0;
                           });
            images.push_back(image);
        }
        if (images.size() > kMaxPicturesPerFile) {
            error = "the file holds more than " + std::to_string(kMaxPicturesPerFile) +
                    " pictures, more than one conversion takes";
            return false;
        }
        std::uint64_t total = 0;
        for (auto& image : images) {
            total += std::uint64_t(image.columns()) * image.rows() * 4 + kPictureOverheadBytes;
            if (total > kMaxPictureBytes) {
                error = "the frames of this image need more memory than a job may allocate";
                frames.clear();
                return false;
            }
            Bitmap frame;
            if (!checkedPictureBytes(std::int64_t(image.columns()), std::int64_t(image.rows()), 4,
                                     nullptr, &error) ||
                !bitmapFromImage(image, frame, error))
                return false;
            frames.push_back(std::move(frame));
        }
    } catch (const Magick::Exception& e) {
        error = "unreadable image: " + magickReason(e);
        frames.clear();
        return false;
    }
    if (frames.empty()) {
        error = "the file holds no picture";
        return false;
    }
    return true;
}

bool encodeMagickBitmap(const Bitmap& input, const std::string& coder, bool keepAlpha,
                        double quality, double dpiX, double dpiY, std::vector<std::uint8_t>& out,
                        std::string& error) {
    if (coder.empty() || input.empty()) {
        error = "no writer for this format";
        return false;
    }
    if (coder == "ICO" && (input.width > 256 || input.height > 256)) {
        error = "a Windows icon holds at most 256 x 256 pixels";
        return false;
    }
    // Past its limits ImageMagick fails to make the image, and Magick++ then aborts the process
    // instead of throwing.
    if (!withinMagickLimits(input.width, input.height, input.model == ColorModel::CMYK, &error))
        return false;
    const Bitmap flattened = keepAlpha || !input.hasAlpha ? Bitmap() : flattenAlpha(input);
    const Bitmap& flat = flattened.pixels.empty() ? input : flattened;
    try {
        std::string map = flat.model == ColorModel::CMYK  ? "CMYK"
                          : flat.model == ColorModel::RGB ? "RGB"
                                                          : "I";
        if (flat.hasAlpha)
            map += "A";
        // Photoshop files hold 16 bits a sample: a picture carried over with them keeps them.
        const bool deep = coder == "PSD" && &flat == &input && input.hasDeepPixels();
        Magick::Image image(std::size_t(flat.width), std::size_t(flat.height), map,
                            deep ? Magick::ShortPixel : Magick::CharPixel,
                            deep ? static_cast<const void*>(flat.deepPixels.data())
                                 : static_cast<const void*>(flat.pixels.data()));
        if (deep)
            image.depth(16);
        image.quiet(true);
        if (std::isfinite(dpiX) && std::isfinite(dpiY) && dpiX > 0 && dpiY > 0) {
            image.resolutionUnits(Magick::PixelsPerInchResolution);
            image.density(
                Magick::Geometry(std::size_t(std::lround(dpiX)), std::size_t(std::lround(dpiY))));
        }
        if (std::isfinite(quality))
            image.quality(std::size_t(std::clamp(quality, 0.0, 1.0) * 100));
        if (coder == "XBM")
            image.type(Magick::BilevelType);
        image.magick(coder);
        Magick::Blob blob;
        image.write(&blob);
        const auto* data = static_cast<const std::uint8_t*>(blob.data());
        if (!data || blob.length() == 0) {
            error = "the " + coder + " writer produced nothing";
            return false;
        }
        out.assign(data, data + blob.length());
    } catch (const Magick::Exception& e) {
        error = "the " + coder + " writer failed: " + magickReason(e);
        return false;
    }
    return true;
}

} // namespace conversion
