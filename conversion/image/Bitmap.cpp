#include "Bitmap.h"

#include "PixelLimits.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace conversion {

bool Bitmap::allocate(std::int64_t w, std::int64_t h, ColorModel m, bool alpha,
                      std::string* error) {
    const int count = (m == ColorModel::Gray ? 1 : m == ColorModel::RGB ? 3 : 4) + (alpha ? 1 : 0);
    std::size_t bytes = 0;
    if (!checkedPictureBytes(w, h, count, &bytes, error))
        return false;
    try {
        std::vector<std::uint16_t>().swap(deepPixels);
        pixels.assign(bytes, 0);
    } catch (const std::bad_alloc&) {
        if (error)
            *error = "not enough memory for a picture of " + std::to_string(w) + " x " +
                     std::to_string(h) + " pixels";
        return false;
    }
    width = w;
    height = h;
    model = m;
    hasAlpha = alpha;
    return true;
}

namespace {

void toRGB(const Bitmap& s, const std::uint8_t* p, std::uint8_t rgb[3]) {
    switch (s.model) {
    case ColorModel::Gray:
        rgb[0] = rgb[1] = rgb[2] = p[0];
        break;
    case ColorModel::RGB:
        rgb[0] = p[0];
        rgb[1] = p[1];
        rgb[2] = p[2];
        break;
    case ColorModel::CMYK:
        for (int i = 0; i < 3; ++i)
            rgb[i] = std::uint8_t((255 - p[i]) * (255 - p[3]) / 255);
        break;
    }
}

} // namespace

Bitmap convertBitmap(const Bitmap& source, ColorModel model, bool keepAlpha) {
    Bitmap out;
    const bool alpha = keepAlpha && source.hasAlpha;
    if (!out.allocate(source.width, source.height, model, alpha, nullptr))
        return out;
    out.dpiX = source.dpiX;
    out.dpiY = source.dpiY;
    if (model == source.model)
        out.iccProfile = source.iccProfile;
    const int sc = source.channels();
    const int dc = out.channels();
    const int sColor = source.colorChannels();
    for (std::int64_t y = 0; y < source.height; ++y) {
        const std::uint8_t* s = source.row(y);
        std::uint8_t* d = out.row(y);
        for (std::int64_t x = 0; x < source.width; ++x, s += sc, d += dc) {
            std::uint8_t rgb[3] = {0, 0, 0};
            toRGB(source, s, rgb);
            const int a = source.hasAlpha ? s[sColor] : 255;
            if (source.hasAlpha && !alpha) // onto white
                for (auto& c : rgb)
                    c = std::uint8_t((c * a + 255 * (255 - a) + 127) / 255);
            if (model == source.model && !(source.hasAlpha && !alpha)) {
                for (int i = 0; i < out.colorChannels(); ++i)
                    d[i] = s[i];
            } else if (model == ColorModel::Gray) {
                d[0] = std::uint8_t((rgb[0] * 299 + rgb[1] * 587 + rgb[2] * 114 + 500) / 1000);
            } else if (model == ColorModel::RGB) {
                d[0] = rgb[0];
                d[1] = rgb[1];
                d[2] = rgb[2];
            } else {
                const std::uint8_t k = std::uint8_t(255 - std::max({rgb[0], rgb[1], rgb[2]}));
                for (int i = 0; i < 3; ++i)
                    d[i] = k == 255 ? 0 : std::uint8_t((255 - rgb[i] - k) * 255 / (255 - k));
                d[3] = k;
            }
            if (alpha)
                d[out.colorChannels()] = std::uint8_t(a);
        }
    }
    return out;
}

Bitmap layoutOf(const Bitmap& picture) {
    Bitmap layout;
    layout.width = picture.width;
    layout.height = picture.height;
    layout.model = picture.model;
    layout.hasAlpha = picture.hasAlpha;
    layout.dpiX = picture.dpiX;
    layout.dpiY = picture.dpiY;
    layout.iccProfile = picture.iccProfile;
    return layout;
}

Bitmap flattenAlpha(const Bitmap& source) {
    if (!source.hasAlpha)
        return source;
    return convertBitmap(source, source.model, false);
}

bool isOpaque(const Bitmap& bitmap) {
    if (!bitmap.hasAlpha)
        return true;
    const int c = bitmap.channels();
    for (std::size_t i = std::size_t(c - 1); i < bitmap.pixels.size(); i += std::size_t(c))
        if (bitmap.pixels[i] != 255)
            return false;
    return true;
}

void splitColourAndAlpha(const Bitmap& b, std::string& colour, std::string& alpha) {
    const std::size_t pixels = std::size_t(b.width) * std::size_t(b.height);
    const int colors = b.colorChannels();
    const int all = b.channels();
    colour.assign(pixels * std::size_t(colors), '\0');
    alpha.assign(b.hasAlpha ? pixels : 0, '\0');
    for (std::size_t i = 0; i < pixels; ++i) {
        const std::uint8_t* p = &b.pixels[i * std::size_t(all)];
        for (int c = 0; c < colors; ++c)
            colour[i * std::size_t(colors) + std::size_t(c)] = char(p[c]);
        if (b.hasAlpha)
            alpha[i] = char(p[colors]);
    }
}

bool applyOrientation(Bitmap& bitmap, int orientation) {
    if (orientation < 2 || orientation > 8 || bitmap.empty())
        return false;
    const std::int64_t w = bitmap.width, h = bitmap.height;
    const bool swapped = orientation >= 5;
    Bitmap out;
    if (!out.allocate(swapped ? h : w, swapped ? w : h, bitmap.model, bitmap.hasAlpha, nullptr))
        return false;
    out.dpiX = swapped ? bitmap.dpiY : bitmap.dpiX;
    out.dpiY = swapped ? bitmap.dpiX : bitmap.dpiY;
    out.iccProfile = bitmap.iccProfile;
    const std::size_t n = std::size_t(bitmap.channels());
    const bool deep = bitmap.hasDeepPixels();
    if (deep)
        out.deepPixels.resize(out.pixels.size());
    for (std::int64_t oy = 0; oy < out.height; ++oy) {
        std::uint8_t* d = out.row(oy);
        for (std::int64_t ox = 0; ox < out.width; ++ox, d += n) {
            // The stored pixel that is seen at (ox, oy).
            std::int64_t x = ox, y = oy;
            switch (orientation) {
            case 2: // mirrored left to right
                x = w - 1 - ox;
                break;
            case 3: // half turn
                x = w - 1 - ox;
                y = h - 1 - oy;
                break;
            case 4: // mirrored top to bottom
                y = h - 1 - oy;
                break;
            case 5: // transposed
                x = oy;
                y = ox;
                break;
            case 6: // stored a quarter turn left
                x = oy;
                y = h - 1 - ox;
                break;
            case 7: // transversed
                x = w - 1 - oy;
                y = h - 1 - ox;
                break;
            case 8: // stored a quarter turn right
                x = w - 1 - oy;
                y = ox;
                break;
            }
            std::memcpy(d, bitmap.row(y) + std::size_t(x) * n, n);
            if (deep)
                std::memcpy(out.deepPixels.data() + std::size_t(oy) * out.rowBytes() +
                                std::size_t(ox) * n,
                            bitmap.deepRow(y) + std::size_t(x) * n, n * sizeof(std::uint16_t));
        }
    }
    bitmap = std::move(out);
    return true;
}

} // namespace conversion
