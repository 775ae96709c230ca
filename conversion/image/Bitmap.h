// The pixels every reader produces and every writer takes: 8 bits a sample, interleaved, rows
// top to bottom, alpha (when present) last and not premultiplied. A reader of a file that holds
// 16 bits a sample keeps them beside the 8-bit pixels (deepPixels), for the writers of formats
// that hold 16 bits too.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace conversion {

enum class ColorModel { Gray, RGB, CMYK };

struct Bitmap {
    std::int64_t width = 0;
    std::int64_t height = 0;
    ColorModel model = ColorModel::RGB;
    bool hasAlpha = false;
    // Dots per inch as the file records them; 0 when it records none.
    double dpiX = 0;
    double dpiY = 0;
    std::vector<std::uint8_t> iccProfile;
    std::vector<std::uint8_t> pixels;
    // The same samples at 16 bits (the 8-bit ones are their high bytes, or rounded), in the same
    // layout, when the file held them; else empty. What draws, resamples or converts a picture
    // makes a new bitmap without them, and allocate() drops them, so only a picture carried over
    // from its file as it was keeps them.
    std::vector<std::uint16_t> deepPixels;

    int colorChannels() const {
        return model == ColorModel::Gray ? 1 : model == ColorModel::RGB ? 3 : 4;
    }
    int channels() const { return colorChannels() + (hasAlpha ? 1 : 0); }
    std::size_t rowBytes() const { return std::size_t(width) * std::size_t(channels()); }
    std::uint8_t* row(std::int64_t y) { return pixels.data() + std::size_t(y) * rowBytes(); }
    const std::uint8_t* row(std::int64_t y) const {
        return pixels.data() + std::size_t(y) * rowBytes();
    }
    bool empty() const { return width <= 0 || height <= 0 || pixels.empty(); }
    // Whether 16-bit samples of these very pixels are at hand.
    bool hasDeepPixels() const { return !pixels.empty() && deepPixels.size() == pixels.size(); }
    const std::uint16_t* deepRow(std::int64_t y) const {
        return deepPixels.data() + std::size_t(y) * rowBytes();
    }

    // Sizes the pixel buffer after checking the size against the shared cap; false with a
    // message when the picture is too large or memory runs out.
    bool allocate(std::int64_t w, std::int64_t h, ColorModel m, bool alpha, std::string* error);
};

// The size, model, alpha, resolution and profile of the picture, without its pixels.
Bitmap layoutOf(const Bitmap& picture);
// Copies with another layout. Alpha is composited onto white when it is dropped; CMYK becomes
// RGB by the naive complement (no profile), grey by luminance.
Bitmap convertBitmap(const Bitmap& source, ColorModel model, bool keepAlpha);
// The same picture without alpha (a copy; callers skip the call for pictures without alpha).
Bitmap flattenAlpha(const Bitmap& source);
// The picture as it is to be seen when its EXIF orientation (1 to 8) says how it was stored:
// turned and mirrored, with the sides (and resolutions) swapped for 5 to 8. Other values, and
// a picture whose copy cannot be allocated, give the picture unchanged (false).
bool applyOrientation(Bitmap& bitmap, int orientation);
// True when every alpha sample is 255 (or there is no alpha).
bool isOpaque(const Bitmap& bitmap);
// The pixels as PDF image samples: the colour channels interleaved in `colour`, and the alpha
// channel on its own in `alpha` (empty without alpha).
void splitColourAndAlpha(const Bitmap& bitmap, std::string& colour, std::string& alpha);

} // namespace conversion
