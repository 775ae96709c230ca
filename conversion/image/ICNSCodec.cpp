#include "ICNSCodec.h"

#include "JPEG2000Codec.h"
#include "PNGCodec.h"
#include "PixelLimits.h"
#include "RenderSurface.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
// The header declares some of its functions without C linkage.
extern "C" {
#include <icns.h>
}
#include <memory>

namespace conversion {

namespace {

constexpr std::size_t kHeader = 8;
// A family holds a handful of sizes and variants; more members than this is not an icon file.
constexpr std::size_t kMaxMembers = 64;

std::uint32_t readBE32(const std::uint8_t* p) {
    return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 |
           std::uint32_t(p[3]);
}
void putBE32(std::vector<std::uint8_t>& b, std::uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8)
        b.push_back(std::uint8_t(v >> shift));
}

// The element types libicns decodes itself: the classic RLE and palette pictures. Masks are
// not pictures of their own; libicns applies them to their picture.
bool isClassicPicture(std::uint32_t type) {
    switch (type) {
    case ICNS_16x16_32BIT_DATA:
    case ICNS_32x32_32BIT_DATA:
    case ICNS_48x48_32BIT_DATA:
    case ICNS_128X128_32BIT_DATA:
    case ICNS_16x16_8BIT_DATA:
    case ICNS_32x32_8BIT_DATA:
    case ICNS_48x48_8BIT_DATA:
    case ICNS_16x12_8BIT_DATA:
    case ICNS_16x16_4BIT_DATA:
    case ICNS_32x32_4BIT_DATA:
    case ICNS_48x48_4BIT_DATA:
    case ICNS_16x12_4BIT_DATA:
    case ICNS_16x16_1BIT_DATA:
    case ICNS_32x32_1BIT_DATA:
    case ICNS_48x48_1BIT_DATA:
    case ICNS_16x12_1BIT_DATA:
        return true;
    default:
        return false;
    }
}

bool isClassicMask(std::uint32_t type) {
    return type == ICNS_16x16_8BIT_MASK || type == ICNS_32x32_8BIT_MASK ||
           type == ICNS_48x48_8BIT_MASK || type == ICNS_128X128_8BIT_MASK;
}

struct Member {
    std::uint32_t type;
    const std::uint8_t* data; // the payload, after the element header
    std::size_t size;
};

struct FamilyDeleter {
    void operator()(icns_family_t* f) const { std::free(f); }
};
struct ImageHolder {
    icns_image_t image{};
    ~ImageHolder() { icns_free_image(&image); }
};

// RGBA samples of a libicns picture, checked against the size it claims.
bool bitmapFromICNSImage(const icns_image_t& image, Bitmap& out, std::string& error) {
    const std::int64_t w = image.imageWidth, h = image.imageHeight;
    std::size_t bytes = 0;
    if (image.imageChannels != 4 || image.imagePixelDepth != 8 || !image.imageData ||
        !checkedPictureBytes(w, h, 4, &bytes, &error) || image.imageDataSize < bytes) {
        if (error.empty())
            error = "an icon member decodes to an unexpected layout";
        return false;
    }
    if (!out.allocate(w, h, ColorModel::RGB, true, &error))
        return false;
    std::memcpy(out.pixels.data(), image.imageData, bytes);
    return true;
}

// The classic members go to libicns as a family of their own, rebuilt from the elements whose
// sizes were checked here, so that it never walks a header this reader has not vetted.
bool decodeClassicMembers(const std::vector<Member>& members, std::vector<Bitmap>& pictures,
                          std::string& error) {
    std::vector<std::uint8_t> family = {'i', 'c', 'n', 's', 0, 0, 0, 0};
    bool anyPicture = false;
    for (const Member& m : members) {
        if (!isClassicPicture(m.type) && !isClassicMask(m.type))
            continue;
        anyPicture = anyPicture || isClassicPicture(m.type);
        putBE32(family, m.type);
        putBE32(family, std::uint32_t(m.size + kHeader));
        family.insert(family.end(), m.data, m.data + m.size);
    }
    if (!anyPicture)
        return true;
    const std::uint32_t total = std::uint32_t(family.size());
    for (int i = 0; i < 4; ++i)
        family[4 + std::size_t(i)] = std::uint8_t(total >> (24 - 8 * i));
    icns_set_print_errors(0);
    icns_family_t* raw = nullptr;
    if (icns_import_family_data(icns_size_t(family.size()), family.data(), &raw) !=
            ICNS_STATUS_OK ||
        !raw) {
        std::free(raw);
        error = "the icon family cannot be read";
        return false;
    }
    std::unique_ptr<icns_family_t, FamilyDeleter> parsed(raw);
    for (const Member& m : members) {
        if (!isClassicPicture(m.type))
            continue;
        ImageHolder holder;
        Bitmap picture;
        if (icns_get_image32_with_mask_from_family(parsed.get(), m.type, &holder.image) !=
                ICNS_STATUS_OK ||
            !bitmapFromICNSImage(holder.image, picture, error)) {
            if (error.empty())
                error = "an icon member cannot be decoded";
            return false;
        }
        pictures.push_back(std::move(picture));
    }
    return true;
}

bool isPNG(const Member& m) {
    return m.size >= 8 && std::memcmp(m.data, "\x89PNG\r\n\x1A\n", 8) == 0;
}
bool isJPEG2000(const Member& m) {
    return (m.size >= 12 && std::memcmp(m.data, "\0\0\0\x0CjP  \r\n\x87\n", 12) == 0) ||
           (m.size >= 4 && std::memcmp(m.data, "\xFF\x4F\xFF\x51", 4) == 0);
}

bool drawScaled(const Bitmap& bitmap, int side, Bitmap& drawn, std::string& error) {
    SurfacePtr source = surfaceFromBitmap(bitmap, &error);
    SurfacePtr square = source ? createARGBSurface(side, side, &error) : nullptr;
    if (!square)
        return false;
    {
        ContextPtr cr(cairo_create(square.get()));
        const double scale = double(side) / double(std::max(bitmap.width, bitmap.height));
        const double w = double(bitmap.width) * scale, h = double(bitmap.height) * scale;
        cairo_translate(cr.get(), (side - w) / 2, (side - h) / 2);
        cairo_scale(cr.get(), scale, scale);
        cairo_set_source_surface(cr.get(), source.get(), 0, 0);
        cairo_pattern_set_filter(cairo_get_source(cr.get()), CAIRO_FILTER_GOOD);
        cairo_paint(cr.get());
    }
    return bitmapFromSurface(square.get(), ColorModel::RGB, true, drawn, &error);
}

} // namespace

bool decodeICNSBitmaps(const std::uint8_t* bytes, std::size_t length, std::vector<Bitmap>& pictures,
                       std::string& error) {
    pictures.clear();
    if (!bytes || length < kHeader || std::memcmp(bytes, "icns", 4) != 0) {
        error = "not an Apple icon file";
        return false;
    }
    // The family's own length bounds the walk; a file cut short is read as far as it goes.
    const std::size_t end =
        std::min<std::size_t>(length, std::max<std::size_t>(readBE32(bytes + 4), kHeader));
    std::vector<Member> members;
    for (std::size_t at = kHeader; at + kHeader <= end;) {
        const std::uint32_t type = readBE32(bytes + at);
        const std::uint32_t size = readBE32(bytes + at + 4);
        if (size < kHeader || size > end - at) {
            error = "the icon family has a member whose length runs past its end";
            return false;
        }
        if (members.size() == kMaxMembers) {
            error = "the icon family holds more members than an icon file has";
            return false;
        }
        members.push_back({type, bytes + at + kHeader, size - kHeader});
        at += size;
    }
    // The large sizes (and the retina variants) hold a PNG or JPEG 2000 file; the project's own
    // decoders read those. The classic members follow in their order within the file.
    std::vector<Bitmap> classic;
    if (!decodeClassicMembers(members, classic, error))
        return false;
    std::size_t nextClassic = 0;
    for (std::size_t i = 0; i < members.size(); ++i) {
        const Member& m = members[i];
        if (isClassicPicture(m.type)) {
            if (nextClassic < classic.size())
                pictures.push_back(std::move(classic[nextClassic++]));
            continue;
        }
        if (!isPNG(m) && !isJPEG2000(m))
            continue; // masks, the table of contents, names and versions
        Bitmap picture;
        const bool ok = isPNG(m) ? decodePNGBitmap(m.data, m.size, picture, error)
                                 : decodeJPEG2000Bitmap(m.data, m.size, picture, error);
        if (!ok)
            return false;
        pictures.push_back(std::move(picture));
    }
    if (pictures.empty()) {
        error = "the icon family holds no picture this program reads";
        return false;
    }
    return true;
}

int iCNSSizeFor(std::int64_t width, std::int64_t height) {
    static constexpr int kSizes[] = {16, 32, 48, 128, 256, 512, 1024};
    const std::int64_t side = std::max(width, height);
    int best = kSizes[0];
    for (int s : kSizes) {
        // Ties go to the larger size, so that a picture is not made smaller than it must be.
        if (std::llabs(side - s) <= std::llabs(side - best))
            best = s;
    }
    return best;
}

bool encodeICNSBitmap(const Bitmap& bitmap, std::vector<std::uint8_t>& out, std::string& error) {
    if (bitmap.empty()) {
        error = "no picture to encode";
        return false;
    }
    // The picture goes into one member, at the icon size nearest to its longer side. A picture
    // of another size or shape is scaled (aspect ratio kept) with the same cairo filter the
    // renders use and centred on a transparent square, so it is neither cut nor distorted; one
    // of the right size is taken as it is.
    const int side = iCNSSizeFor(bitmap.width, bitmap.height);
    Bitmap drawn;
    if (bitmap.width == side && bitmap.height == side) {
        drawn = convertBitmap(bitmap, ColorModel::RGB, true);
    } else if (!drawScaled(bitmap, side, drawn, error)) {
        return false;
    }
    Bitmap rgba;
    if (drawn.hasAlpha) {
        rgba = std::move(drawn);
    } else {
        if (drawn.pixels.size() != std::size_t(side) * std::size_t(side) * 3 ||
            !rgba.allocate(side, side, ColorModel::RGB, true, &error))
            return false;
        for (std::size_t p = 0; p < std::size_t(side) * std::size_t(side); ++p) {
            std::memcpy(&rgba.pixels[p * 4], &drawn.pixels[p * 3], 3);
            rgba.pixels[p * 4 + 3] = 255;
        }
    }

    icns_set_print_errors(0);
    icns_family_t* rawFamily = nullptr;
    if (icns_create_family(&rawFamily) != ICNS_STATUS_OK || !rawFamily) {
        error = "libicns cannot make an icon family";
        return false;
    }
    std::unique_ptr<icns_family_t, FamilyDeleter> family(rawFamily);
    auto add = [&](icns_element_t* element) {
        icns_family_t* f = family.release();
        const bool ok = element && icns_set_element_in_family(&f, element) == ICNS_STATUS_OK;
        family.reset(f);
        std::free(element);
        return ok;
    };
    bool ok = false;
    if (side >= 256) {
        // The large sizes hold a PNG, as current systems write them (and read them fastest).
        std::vector<std::uint8_t> png;
        if (!encodePNGBitmap(rgba, true, 0, 0, png, error))
            return false;
        const icns_type_t type = side == 256   ? ICNS_256x256_32BIT_ARGB_DATA
                                 : side == 512 ? ICNS_512x512_32BIT_ARGB_DATA
                                               : ICNS_1024x1024_32BIT_ARGB_DATA;
        auto* element = static_cast<icns_element_t*>(std::malloc(kHeader + png.size()));
        if (element) {
            element->elementType = type;
            element->elementSize = icns_size_t(kHeader + png.size());
            std::memcpy(element->elementData, png.data(), png.size());
        }
        ok = add(element);
    } else {
        const icns_type_t type = side == 16   ? ICNS_16x16_32BIT_DATA
                                 : side == 32 ? ICNS_32x32_32BIT_DATA
                                 : side == 48 ? ICNS_48x48_32BIT_DATA
                                              : ICNS_128X128_32BIT_DATA;
        icns_image_t image{};
        image.imageWidth = std::uint32_t(side);
        image.imageHeight = std::uint32_t(side);
        image.imageChannels = 4;
        image.imagePixelDepth = 8;
        image.imageDataSize = rgba.pixels.size();
        image.imageData = rgba.pixels.data();
        icns_element_t* picture = nullptr;
        icns_element_t* mask = nullptr;
        // `add` frees each element once it is copied into the family.
        ok = icns_new_element_from_image(&image, type, &picture) == ICNS_STATUS_OK && add(picture);
        // The mask is an image of its own: one 8-bit sample a pixel, the alpha.
        std::vector<std::uint8_t> alpha(std::size_t(side) * std::size_t(side));
        for (std::size_t p = 0; p < alpha.size(); ++p)
            alpha[p] = rgba.pixels[p * 4 + 3];
        icns_image_t maskImage = image;
        maskImage.imageChannels = 1;
        maskImage.imageDataSize = alpha.size();
        maskImage.imageData = alpha.data();
        ok = ok &&
             icns_new_element_from_mask(&maskImage, icns_get_mask_type_for_icon_type(type),
                                        &mask) == ICNS_STATUS_OK &&
             add(mask);
    }
    if (!ok) {
        error = "libicns cannot store the picture in an icon family";
        return false;
    }
    icns_size_t size = 0;
    icns_byte_t* data = nullptr;
    if (icns_export_family_data(family.get(), &size, &data) != ICNS_STATUS_OK || !data ||
        size <= 0) {
        std::free(data);
        error = "libicns cannot write the icon family";
        return false;
    }
    out.assign(data, data + size);
    std::free(data);
    return true;
}

} // namespace conversion
