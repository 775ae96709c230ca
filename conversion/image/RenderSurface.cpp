#include "RenderSurface.h"

#include "PixelLimits.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <lcms2.h>
#include <vector>

namespace conversion {

namespace {

// Ghostscript's default CMYK profile (Debian's libgs-common): a press profile that every
// Debian system with Ghostscript has.
const char* const kCMYKProfilePath = "/usr/share/color/icc/ghostscript/default_cmyk.icc";

const std::vector<std::uint8_t>& defaultCMYKProfile() {
    static const std::vector<std::uint8_t> bytes = [] {
        std::ifstream in(kCMYKProfilePath, std::ios::binary);
        return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in),
                                         std::istreambuf_iterator<char>());
    }();
    return bytes;
}

struct Transform {
    cmsHTRANSFORM handle = nullptr;
    ~Transform() {
        if (handle)
            cmsDeleteTransform(handle);
    }
};

// sRGB to CMYK (toCMYK) or CMYK to sRGB through `profile` (the default one when empty or not a
// CMYK profile); null when no CMYK profile can be had, and the caller falls back to the plain
// complement.
cmsHTRANSFORM makeTransform(bool toCMYK, const std::vector<std::uint8_t>& profile,
                            const std::vector<std::uint8_t>** used) {
    const std::vector<std::uint8_t>* bytes = &profile;
    cmsHPROFILE cmyk = nullptr;
    if (!profile.empty()) {
        cmyk = cmsOpenProfileFromMem(profile.data(), cmsUInt32Number(profile.size()));
        if (cmyk && cmsGetColorSpace(cmyk) != cmsSigCmykData) {
            cmsCloseProfile(cmyk);
            cmyk = nullptr;
        }
    }
    if (!cmyk) {
        bytes = &defaultCMYKProfile();
        if (bytes->empty())
            return nullptr;
        cmyk = cmsOpenProfileFromMem(bytes->data(), cmsUInt32Number(bytes->size()));
        if (!cmyk)
            return nullptr;
    }
    cmsHPROFILE srgb = cmsCreate_sRGBProfile();
    cmsHTRANSFORM t =
        toCMYK ? cmsCreateTransform(srgb, TYPE_RGB_8, cmyk, TYPE_CMYK_8, INTENT_PERCEPTUAL, 0)
               : cmsCreateTransform(cmyk, TYPE_CMYK_8, srgb, TYPE_RGB_8, INTENT_PERCEPTUAL, 0);
    cmsCloseProfile(srgb);
    cmsCloseProfile(cmyk);
    if (used)
        *used = bytes;
    return t;
}

inline std::uint32_t premultiplied(std::uint32_t r, std::uint32_t g, std::uint32_t b,
                                   std::uint32_t a) {
    if (a != 255) {
        r = (r * a + 127) / 255;
        g = (g * a + 127) / 255;
        b = (b * a + 127) / 255;
    }
    return a << 24 | r << 16 | g << 8 | b;
}

} // namespace

SurfacePtr createARGBSurface(std::int64_t width, std::int64_t height, std::string* error) {
    if (!checkedPictureBytes(width, height, 4, nullptr, error))
        return nullptr;
    if (width > 32767 || height > 32767) { // cairo's own limit on a side
        if (error)
            *error = "a picture of " + std::to_string(width) + " x " + std::to_string(height) +
                     " pixels is too large to draw";
        return nullptr;
    }
    SurfacePtr s(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, int(width), int(height)));
    if (cairo_surface_status(s.get()) != CAIRO_STATUS_SUCCESS) {
        if (error)
            *error = "not enough memory to draw a picture of " + std::to_string(width) + " x " +
                     std::to_string(height) + " pixels";
        return nullptr;
    }
    return s;
}

SurfacePtr surfaceFromBitmap(const Bitmap& bitmap, std::string* error) {
    if (bitmap.empty()) {
        if (error)
            *error = "no picture to draw";
        return nullptr;
    }
    SurfacePtr s = createARGBSurface(bitmap.width, bitmap.height, error);
    if (!s)
        return nullptr;
    cairo_surface_flush(s.get());
    unsigned char* data = cairo_image_surface_get_data(s.get());
    const int stride = cairo_image_surface_get_stride(s.get());
    const int channels = bitmap.channels();
    const int colors = bitmap.colorChannels();
    Transform cmyk;
    std::vector<std::uint8_t> rgbRow;
    if (bitmap.model == ColorModel::CMYK) {
        cmyk.handle = makeTransform(false, bitmap.iccProfile, nullptr);
        rgbRow.resize(std::size_t(bitmap.width) * 3);
    }
    std::vector<std::uint8_t> cmykRow(
        bitmap.model == ColorModel::CMYK && bitmap.hasAlpha ? std::size_t(bitmap.width) * 4 : 0);
    for (std::int64_t y = 0; y < bitmap.height; ++y) {
        const std::uint8_t* p = bitmap.row(y);
        auto* d = reinterpret_cast<std::uint32_t*>(data + std::size_t(y) * std::size_t(stride));
        if (bitmap.model == ColorModel::RGB) {
            for (std::int64_t x = 0; x < bitmap.width; ++x, p += channels)
                d[x] = premultiplied(p[0], p[1], p[2], bitmap.hasAlpha ? p[3] : 255);
        } else if (bitmap.model == ColorModel::Gray) {
            for (std::int64_t x = 0; x < bitmap.width; ++x, p += channels)
                d[x] = premultiplied(p[0], p[0], p[0], bitmap.hasAlpha ? p[1] : 255);
        } else {
            const std::uint8_t* ink = p;
            if (bitmap.hasAlpha) { // the transform takes packed CMYK
                for (std::int64_t x = 0; x < bitmap.width; ++x)
                    std::memcpy(&cmykRow[std::size_t(x) * 4], p + x * channels, 4);
                ink = cmykRow.data();
            }
            if (cmyk.handle) {
                cmsDoTransform(cmyk.handle, ink, rgbRow.data(), cmsUInt32Number(bitmap.width));
            } else {
                for (std::int64_t x = 0; x < bitmap.width; ++x)
                    for (int i = 0; i < 3; ++i)
                        rgbRow[std::size_t(x) * 3 + std::size_t(i)] =
                            std::uint8_t((255 - ink[x * 4 + i]) * (255 - ink[x * 4 + 3]) / 255);
            }
            for (std::int64_t x = 0; x < bitmap.width; ++x) {
                const std::uint8_t* c = &rgbRow[std::size_t(x) * 3];
                d[x] = premultiplied(c[0], c[1], c[2],
                                     bitmap.hasAlpha ? p[x * channels + colors] : 255);
            }
        }
    }
    cairo_surface_mark_dirty(s.get());
    return s;
}

bool bitmapFromSurface(cairo_surface_t* surface, ColorModel model, bool keepAlpha, Bitmap& out,
                       std::string* error) {
    cairo_surface_flush(surface);
    const std::int64_t w = cairo_image_surface_get_width(surface);
    const std::int64_t h = cairo_image_surface_get_height(surface);
    const unsigned char* data = cairo_image_surface_get_data(surface);
    const int stride = cairo_image_surface_get_stride(surface);
    if (!data || w <= 0 || h <= 0) {
        if (error)
            *error = "no picture was drawn";
        return false;
    }
    auto rowOf = [&](std::int64_t y) {
        return reinterpret_cast<const std::uint32_t*>(data + std::size_t(y) * std::size_t(stride));
    };
    bool opaque = true;
    for (std::int64_t y = 0; y < h && opaque; ++y)
        for (std::int64_t x = 0; x < w; ++x)
            if ((rowOf(y)[x] >> 24) != 255) {
                opaque = false;
                break;
            }
    const bool alpha = keepAlpha && !opaque;
    if (!out.allocate(w, h, model, alpha, error))
        return false;
    Transform toCMYK;
    const std::vector<std::uint8_t>* profile = nullptr;
    std::vector<std::uint8_t> rgbRow(std::size_t(w) * 3), cmykRow;
    if (model == ColorModel::CMYK) {
        toCMYK.handle = makeTransform(true, {}, &profile);
        cmykRow.resize(std::size_t(w) * 4);
        if (toCMYK.handle && profile)
            out.iccProfile = *profile;
    }
    const int channels = out.channels();
    for (std::int64_t y = 0; y < h; ++y) {
        const std::uint32_t* s = rowOf(y);
        std::uint8_t* d = out.row(y);
        std::vector<std::uint8_t> alphas(alpha ? std::size_t(w) : 0);
        for (std::int64_t x = 0; x < w; ++x) {
            const std::uint32_t v = s[x];
            const std::uint32_t a = v >> 24;
            std::uint32_t c[3] = {(v >> 16) & 255, (v >> 8) & 255, v & 255};
            for (auto& k : c) {
                if (alpha) // un-premultiplied
                    k = a ? std::min<std::uint32_t>(255, (k * 255 + a / 2) / a) : 255;
                else // onto white
                    k = std::min<std::uint32_t>(255, k + 255 - a);
            }
            std::uint8_t* rgb = &rgbRow[std::size_t(x) * 3];
            rgb[0] = std::uint8_t(c[0]);
            rgb[1] = std::uint8_t(c[1]);
            rgb[2] = std::uint8_t(c[2]);
            if (alpha)
                alphas[std::size_t(x)] = std::uint8_t(a);
        }
        if (model == ColorModel::RGB) {
            for (std::int64_t x = 0; x < w; ++x) {
                std::memcpy(d + x * channels, &rgbRow[std::size_t(x) * 3], 3);
                if (alpha)
                    d[x * channels + 3] = alphas[std::size_t(x)];
            }
        } else if (model == ColorModel::Gray) {
            for (std::int64_t x = 0; x < w; ++x) {
                const std::uint8_t* rgb = &rgbRow[std::size_t(x) * 3];
                d[x * channels] =
                    std::uint8_t((rgb[0] * 299 + rgb[1] * 587 + rgb[2] * 114 + 500) / 1000);
                if (alpha)
                    d[x * channels + 1] = alphas[std::size_t(x)];
            }
        } else {
            if (toCMYK.handle) {
                cmsDoTransform(toCMYK.handle, rgbRow.data(), cmykRow.data(), cmsUInt32Number(w));
            } else {
                for (std::int64_t x = 0; x < w; ++x) {
                    const std::uint8_t* rgb = &rgbRow[std::size_t(x) * 3];
                    const int k = 255 - std::max({rgb[0], rgb[1], rgb[2]});
                    for (int i = 0; i < 3; ++i)
                        cmykRow[std::size_t(x) * 4 + std::size_t(i)] =
                            k == 255 ? 0 : std::uint8_t((255 - rgb[i] - k) * 255 / (255 - k));
                    cmykRow[std::size_t(x) * 4 + 3] = std::uint8_t(k);
                }
            }
            for (std::int64_t x = 0; x < w; ++x) {
                std::memcpy(d + x * channels, &cmykRow[std::size_t(x) * 4], 4);
                if (alpha)
                    d[x * channels + 4] = alphas[std::size_t(x)];
            }
        }
    }
    return true;
}

bool rGBBitmapToCMYK(const Bitmap& rgb, Bitmap& out, std::string* error) {
    if (rgb.model != ColorModel::RGB || rgb.hasAlpha) {
        out = convertBitmap(rgb, ColorModel::CMYK, false);
        return !out.empty();
    }
    if (!out.allocate(rgb.width, rgb.height, ColorModel::CMYK, false, error))
        return false;
    const std::vector<std::uint8_t>* profile = nullptr;
    Transform t;
    t.handle = makeTransform(true, {}, &profile);
    if (!t.handle) {
        out = convertBitmap(rgb, ColorModel::CMYK, false);
        return !out.empty();
    }
    out.iccProfile = *profile;
    for (std::int64_t y = 0; y < rgb.height; ++y)
        cmsDoTransform(t.handle, rgb.row(y), out.row(y), cmsUInt32Number(rgb.width));
    return true;
}

void sharpenLuminance(cairo_surface_t* surface) {
    cairo_surface_flush(surface);
    const int w = cairo_image_surface_get_width(surface);
    const int h = cairo_image_surface_get_height(surface);
    const int stride = cairo_image_surface_get_stride(surface);
    unsigned char* data = cairo_image_surface_get_data(surface);
    if (!data || w < 3 || h < 3)
        return;
    const std::size_t n = std::size_t(w) * std::size_t(h);
    std::vector<std::int32_t> luma(n), blurred(n), tmp(n);
    for (int y = 0; y < h; ++y) {
        const auto* s = reinterpret_cast<const std::uint32_t*>(data + std::size_t(y) * stride);
        for (int x = 0; x < w; ++x) {
            const std::uint32_t v = s[x];
            luma[std::size_t(y) * w + x] = std::int32_t(
                (((v >> 16) & 255) * 77 + ((v >> 8) & 255) * 150 + (v & 255) * 29) >> 8);
        }
    }
    // A 5-tap binomial blur (sigma about 1 pixel), edges repeated.
    static const int k[5] = {1, 4, 6, 4, 1};
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            int sum = 0;
            for (int i = -2; i <= 2; ++i)
                sum += k[i + 2] * luma[std::size_t(y) * w + std::clamp(x + i, 0, w - 1)];
            tmp[std::size_t(y) * w + x] = sum;
        }
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            int sum = 0;
            for (int i = -2; i <= 2; ++i)
                sum += k[i + 2] * tmp[std::size_t(std::clamp(y + i, 0, h - 1)) * w + x];
            blurred[std::size_t(y) * w + x] = (sum + 128) / 256;
        }
    // A light sharpening, as a photo reduction wants: half the detail added back.
    for (int y = 0; y < h; ++y) {
        auto* d = reinterpret_cast<std::uint32_t*>(data + std::size_t(y) * stride);
        for (int x = 0; x < w; ++x) {
            const std::size_t i = std::size_t(y) * w + x;
            const int delta = (luma[i] - blurred[i]) / 2;
            if (delta == 0)
                continue;
            const std::uint32_t v = d[x];
            const int a = int(v >> 24);
            auto adjust = [&](int c) {
                return std::uint32_t(std::clamp(c + delta * a / 255, 0, a));
            };
            d[x] = std::uint32_t(a) << 24 | adjust(int((v >> 16) & 255)) << 16 |
                   adjust(int((v >> 8) & 255)) << 8 | adjust(int(v & 255));
        }
    }
    cairo_surface_mark_dirty(surface);
}

} // namespace conversion
