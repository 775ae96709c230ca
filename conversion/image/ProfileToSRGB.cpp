#include "ProfileToSRGB.h"

#include <lcms2.h>

namespace conversion {

namespace {

struct Profile {
    cmsHPROFILE handle = nullptr;
    explicit Profile(cmsHPROFILE h) : handle(h) {}
    Profile(const Profile&) = delete;
    Profile& operator=(const Profile&) = delete;
    ~Profile() {
        if (handle)
            cmsCloseProfile(handle);
    }
};

// Grey with the tone curve of sRGB and a D65 white: what a reader assumes of untagged grey.
cmsHPROFILE createSRGBGrey() {
    const cmsFloat64Number parameters[5] = {2.4, 1.0 / 1.055, 0.055 / 1.055, 1.0 / 12.92, 0.04045};
    cmsToneCurve* curve = cmsBuildParametricToneCurve(nullptr, 4, parameters);
    if (!curve)
        return nullptr;
    cmsCIExyY white;
    cmsWhitePointFromTemp(&white, 6504);
    cmsHPROFILE p = cmsCreateGrayProfile(&white, curve);
    cmsFreeToneCurve(curve);
    return p;
}

cmsColorSpaceSignature spaceOf(ColorModel m) {
    return m == ColorModel::Gray  ? cmsSigGrayData
           : m == ColorModel::RGB ? cmsSigRgbData
                                  : cmsSigCmykData;
}

cmsUInt32Number formatOf(ColorModel m, bool alpha) {
    switch (m) {
    case ColorModel::Gray:
        return alpha ? TYPE_GRAYA_8 : TYPE_GRAY_8;
    case ColorModel::RGB:
        return alpha ? TYPE_RGBA_8 : TYPE_RGB_8;
    case ColorModel::CMYK:
        break;
    }
    return alpha ? (COLORSPACE_SH(PT_CMYK) | CHANNELS_SH(4) | EXTRA_SH(1) | BYTES_SH(1))
                 : TYPE_CMYK_8;
}

bool copyWithoutProfile(const Bitmap& source, Bitmap& out, std::string& error) {
    try {
        out = source;
    } catch (const std::bad_alloc&) {
        error = "not enough memory to convert the picture's colours";
        return false;
    }
    out.iccProfile.clear();
    return true;
}

} // namespace

bool convertProfiledToSRGB(const Bitmap& source, Bitmap& out, std::string& error) {
    if (source.iccProfile.empty() || source.empty())
        return copyWithoutProfile(source, out, error);
    Profile input(
        cmsOpenProfileFromMem(source.iccProfile.data(), cmsUInt32Number(source.iccProfile.size())));
    if (!input.handle || cmsGetColorSpace(input.handle) != spaceOf(source.model))
        return copyWithoutProfile(source, out, error);
    const ColorModel target = source.model == ColorModel::Gray ? ColorModel::Gray : ColorModel::RGB;
    Profile output(target == ColorModel::Gray ? createSRGBGrey() : cmsCreate_sRGBProfile());
    if (!output.handle)
        return copyWithoutProfile(source, out, error);
    cmsHTRANSFORM transform =
        cmsCreateTransform(input.handle, formatOf(source.model, source.hasAlpha), output.handle,
                           formatOf(target, source.hasAlpha), INTENT_PERCEPTUAL,
                           source.hasAlpha ? cmsFLAGS_COPY_ALPHA : 0);
    if (!transform)
        return copyWithoutProfile(source, out, error);
    Bitmap converted;
    if (!converted.allocate(source.width, source.height, target, source.hasAlpha, &error)) {
        cmsDeleteTransform(transform);
        return false;
    }
    converted.dpiX = source.dpiX;
    converted.dpiY = source.dpiY;
    for (std::int64_t y = 0; y < source.height; ++y)
        cmsDoTransform(transform, source.row(y), converted.row(y), cmsUInt32Number(source.width));
    cmsDeleteTransform(transform);
    out = std::move(converted);
    return true;
}

} // namespace conversion
