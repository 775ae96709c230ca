#include "GIFCodec.h"

#include "PixelLimits.h"

#include <gif_lib.h>
#include <new>
#include <unordered_map>

namespace conversion {

namespace {

// The largest side a GIF records (16-bit fields).
constexpr std::int64_t kMaxGIFSide = 65535;
constexpr int kTransparentIndex = 255;

int appendBytes(GifFileType* gif, const GifByteType* bytes, int length) {
    auto* out = static_cast<std::vector<std::uint8_t>*>(gif->UserData);
    try {
        out->insert(out->end(), bytes, bytes + length);
    } catch (const std::bad_alloc&) {
        return 0;
    }
    return length;
}

struct Palette {
    std::vector<GifByteType> indices;
    GifColorType colours[256] = {};
    int count = 0;
};

// The picture's own colours when there are few enough; false when there are more.
bool exactPalette(const Bitmap& rgb, int limit, Palette& palette) {
    std::unordered_map<std::uint32_t, GifByteType> seen;
    const std::size_t count = std::size_t(rgb.width) * std::size_t(rgb.height);
    const int step = rgb.channels();
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint8_t* p = &rgb.pixels[i * std::size_t(step)];
        const std::uint32_t key = std::uint32_t(p[0]) << 16 | std::uint32_t(p[1]) << 8 | p[2];
        auto it = seen.find(key);
        if (it == seen.end()) {
            if (int(seen.size()) >= limit)
                return false;
            const auto index = GifByteType(seen.size());
            it = seen.emplace(key, index).first;
            palette.colours[index] = {p[0], p[1], p[2]};
        }
        palette.indices[i] = it->second;
    }
    palette.count = int(seen.size());
    return true;
}

bool quantisedPalette(const Bitmap& rgb, int limit, Palette& palette) {
    const std::size_t count = std::size_t(rgb.width) * std::size_t(rgb.height);
    std::vector<GifByteType> red(count), green(count), blue(count);
    const int step = rgb.channels();
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint8_t* p = &rgb.pixels[i * std::size_t(step)];
        red[i] = p[0];
        green[i] = p[1];
        blue[i] = p[2];
    }
    int size = limit;
    if (GifQuantizeBuffer(unsigned(rgb.width), unsigned(rgb.height), &size, red.data(),
                          green.data(), blue.data(), palette.indices.data(),
                          palette.colours) != GIF_OK)
        return false;
    palette.count = size;
    return true;
}

} // namespace

bool encodeGIFBitmap(const Bitmap& input, bool keepAlpha, std::vector<std::uint8_t>& out,
                     std::string& error) {
    if (input.empty()) {
        error = "no picture to encode";
        return false;
    }
    if (input.width > kMaxGIFSide || input.height > kMaxGIFSide) {
        error = "a GIF picture holds at most 65535 pixels a side; this one is " +
                std::to_string(input.width) + " x " + std::to_string(input.height);
        return false;
    }
    // The RGB copy, the three planes of the quantiser and the indices.
    if (!checkedPictureBytes(input.width, input.height, 8, nullptr, &error))
        return false;
    try {
        const bool alpha = keepAlpha && input.hasAlpha;
        const Bitmap rgb = convertBitmap(input, ColorModel::RGB, alpha);
        const std::size_t count = std::size_t(rgb.width) * std::size_t(rgb.height);
        bool anyTransparent = false;
        if (alpha)
            for (std::size_t i = 0; i < count && !anyTransparent; ++i)
                anyTransparent = rgb.pixels[i * 4 + 3] < 128;
        const int limit = anyTransparent ? kTransparentIndex : 256;
        Palette palette;
        palette.indices.resize(count);
        if (!exactPalette(rgb, limit, palette) && !quantisedPalette(rgb, limit, palette)) {
            error = "the picture's colours could not be reduced to a GIF palette";
            return false;
        }
        if (anyTransparent) {
            for (std::size_t i = 0; i < count; ++i)
                if (rgb.pixels[i * 4 + 3] < 128)
                    palette.indices[i] = kTransparentIndex;
            palette.colours[kTransparentIndex] = {255, 255, 255};
        }
        std::vector<std::uint8_t> bytes;
        int code = 0;
        GifFileType* gif = EGifOpen(&bytes, appendBytes, &code);
        if (!gif) {
            error = "the GIF writer could not start";
            return false;
        }
        ColorMapObject* map = GifMakeMapObject(256, palette.colours);
        EGifSetGifVersion(gif, anyTransparent);
        bool ok =
            map && EGifPutScreenDesc(gif, int(rgb.width), int(rgb.height), 8, 0, map) == GIF_OK;
        if (ok && anyTransparent) {
            GraphicsControlBlock control = {};
            control.DisposalMode = DISPOSAL_UNSPECIFIED;
            control.DelayTime = 0;
            control.TransparentColor = kTransparentIndex;
            GifByteType extension[4];
            const std::size_t length = EGifGCBToExtension(&control, extension);
            ok = EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, int(length), extension) == GIF_OK;
        }
        ok = ok &&
             EGifPutImageDesc(gif, 0, 0, int(rgb.width), int(rgb.height), false, nullptr) == GIF_OK;
        for (std::int64_t y = 0; ok && y < rgb.height; ++y)
            ok = EGifPutLine(gif, palette.indices.data() + std::size_t(y) * std::size_t(rgb.width),
                             int(rgb.width)) == GIF_OK;
        if (map)
            GifFreeMapObject(map);
        if (EGifCloseFile(gif, &code) != GIF_OK)
            ok = false;
        if (!ok) {
            error = "the GIF writer failed";
            return false;
        }
        out.swap(bytes);
    } catch (const std::bad_alloc&) {
        error = "not enough memory to write the GIF picture";
        return false;
    }
    return true;
}

} // namespace conversion
