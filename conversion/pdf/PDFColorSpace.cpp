#include "PDFColorSpace.h"

#include "PDFFunction.h"
#include "PDFStreamData.h"

#include <lcms2.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <unordered_map>

struct ColorTransform {
    cmsHTRANSFORM handle = nullptr;
    ~ColorTransform() {
        if (handle)
            cmsDeleteTransform(handle);
    }
};

namespace {

constexpr int kMaxColorSpaceDepth = 4;
constexpr std::uint64_t kMaxProfileBytes = 16u << 20;

void silenceLittleCMS() {
    static const bool once = [] {
        cmsSetLogErrorHandler([](cmsContext, cmsUInt32Number, const char*) {});
        return true;
    }();
    (void)once;
}

std::shared_ptr<PDFColorSpace> device(ColorFamily family, int components) {
    auto cs = std::make_shared<PDFColorSpace>();
    cs->family = family;
    cs->components = components;
    cs->ranges.assign(std::size_t(2 * components), 0.0);
    for (int i = 0; i < components; ++i)
        cs->ranges[std::size_t(2 * i + 1)] = 1.0;
    return cs;
}

std::vector<double> numbers(QPDFObjectHandle array, std::size_t wanted, std::vector<double> dflt) {
    if (!array.isArray())
        return dflt;
    for (std::size_t i = 0; i < wanted && int(i) < array.getArrayNItems(); ++i) {
        QPDFObjectHandle item = array.getArrayItem(int(i));
        if (item.isNumber())
            dflt[i] = item.getNumericValue();
    }
    return dflt;
}

cmsCIExyY whitePoint(const std::vector<double>& xyz) {
    cmsCIEXYZ w{xyz[0], xyz[1], xyz[2]};
    if (!(w.X > 0 && w.Y > 0 && w.Z > 0))
        w = {0.9642, 1.0, 0.8249}; // D50
    cmsCIExyY out;
    cmsXYZ2xyY(&out, &w);
    return out;
}

std::shared_ptr<ColorTransform> transformToSRGB(cmsHPROFILE input, cmsUInt32Number inputFormat) {
    if (!input)
        return nullptr;
    silenceLittleCMS();
    cmsHPROFILE srgb = cmsCreate_sRGBProfile();
    auto t = std::make_shared<ColorTransform>();
    t->handle = cmsCreateTransform(input, inputFormat, srgb, TYPE_RGB_8,
                                   INTENT_RELATIVE_COLORIMETRIC, cmsFLAGS_NOCACHE);
    cmsCloseProfile(srgb);
    cmsCloseProfile(input);
    return t->handle ? t : nullptr;
}

std::shared_ptr<PDFColorSpace> calRGB(QPDFObjectHandle params) {
    if (!params.isDictionary() || !params.getKey("/WhitePoint").isArray())
        return device(ColorFamily::RGB, 3); // taken as sRGB
    const std::vector<double> wp = numbers(params.getKey("/WhitePoint"), 3, {0, 0, 1});
    const std::vector<double> gamma = numbers(params.getKey("/Gamma"), 3, {1, 1, 1});
    const std::vector<double> m = numbers(params.getKey("/Matrix"), 9, {1, 0, 0, 0, 1, 0, 0, 0, 1});
    cmsCIExyYTRIPLE primaries;
    cmsCIExyY* p[3] = {&primaries.Red, &primaries.Green, &primaries.Blue};
    for (int i = 0; i < 3; ++i) {
        cmsCIEXYZ xyz{m[std::size_t(3 * i)], m[std::size_t(3 * i + 1)], m[std::size_t(3 * i + 2)]};
        if (xyz.X + xyz.Y + xyz.Z <= 0)
            return device(ColorFamily::RGB, 3);
        cmsXYZ2xyY(p[i], &xyz);
    }
    cmsToneCurve* curves[3];
    for (int i = 0; i < 3; ++i)
        curves[i] = cmsBuildGamma(nullptr, gamma[std::size_t(i)] > 0 ? gamma[std::size_t(i)] : 1);
    const cmsCIExyY white = whitePoint(wp);
    cmsHPROFILE profile = cmsCreateRGBProfile(&white, &primaries, curves);
    for (cmsToneCurve* c : curves)
        cmsFreeToneCurve(c);
    auto cs = device(ColorFamily::Managed, 3);
    cs->kind = kColorSpaceCalRGB;
    cs->transform = transformToSRGB(profile, TYPE_RGB_8);
    if (!cs->transform)
        cs->family = ColorFamily::RGB;
    return cs;
}

// Grey with its own gamma and white point, brought to sRGB's grey scale.
std::shared_ptr<PDFColorSpace> calGray(QPDFObjectHandle params) {
    auto cs = device(ColorFamily::Gray, 1);
    cs->kind = kColorSpaceCalGray;
    if (!params.isDictionary())
        return cs;
    const std::vector<double> wp = numbers(params.getKey("/WhitePoint"), 3, {0, 0, 1});
    QPDFObjectHandle g = params.getKey("/Gamma");
    const double gamma = g.isNumber() && g.getNumericValue() > 0 ? g.getNumericValue() : 1.0;
    const cmsCIExyY white = whitePoint(wp);
    cmsToneCurve* curve = cmsBuildGamma(nullptr, gamma);
    cmsHPROFILE profile = cmsCreateGrayProfile(&white, curve);
    cmsFreeToneCurve(curve);
    auto managed = device(ColorFamily::Managed, 1);
    managed->kind = kColorSpaceCalGray;
    managed->grayOutput = true;
    managed->transform = transformToSRGB(profile, TYPE_GRAY_8);
    return managed->transform ? managed : cs;
}

std::shared_ptr<PDFColorSpace> lab(QPDFObjectHandle params) {
    auto cs = device(ColorFamily::Lab, 3);
    cs->kind = kColorSpaceLab;
    if (!params.isDictionary()) {
        cs->family = ColorFamily::RGB; // the generic RGB space
        return cs;
    }
    const std::vector<double> range = numbers(params.getKey("/Range"), 4, {-100, 100, -100, 100});
    cs->ranges = {0, 100, range[0], range[1], range[2], range[3]};
    const std::vector<double> wp = numbers(params.getKey("/WhitePoint"), 3, {0, 0, 1});
    const cmsCIExyY white = whitePoint(wp);
    silenceLittleCMS();
    cs->transform = transformToSRGB(cmsCreateLab4Profile(&white), TYPE_Lab_DBL);
    if (!cs->transform)
        cs->family = ColorFamily::RGB;
    return cs;
}

std::shared_ptr<PDFColorSpace> iccBased(QPDFObjectHandle stream, QPDFObjectHandle page, int depth) {
    if (!stream.isStream())
        return nullptr;
    QPDFObjectHandle dict = stream.getDict();
    QPDFObjectHandle nObject = dict.getKey("/N");
    int n = nObject.isInteger() ? int(nObject.getIntValue()) : 0;
    std::shared_ptr<PDFColorSpace> alternate;
    QPDFObjectHandle alt = dict.getKey("/Alternate");
    if (alt.isName() || alt.isArray())
        alternate = CreateColorSpaceFromPDF(alt, page, depth + 1);
    if (n != 1 && n != 3 && n != 4)
        n = alternate ? alternate->components : 0;
    if (!alternate)
        alternate = n == 4   ? device(ColorFamily::CMYK, 4)
                    : n == 3 ? device(ColorFamily::RGB, 3)
                    : n == 1 ? device(ColorFamily::Gray, 1)
                             : nullptr;
    if (!alternate || alternate->components != n)
        return alternate && n == 0 ? alternate : nullptr;
    std::vector<std::uint8_t> profile;
    if (!readGenericStreamData(stream, kMaxProfileBytes, profile))
        return nullptr; // data that does not decode gives no colour space
    auto cs = device(ColorFamily::Managed, n);
    cs->kind = kColorSpaceICCBased;
    std::vector<double> dflt(std::size_t(2 * n), 0.0);
    for (int i = 0; i < n; ++i)
        dflt[std::size_t(2 * i + 1)] = 1.0;
    cs->ranges = numbers(dict.getKey("/Range"), std::size_t(2 * n), dflt);
    silenceLittleCMS();
    cmsHPROFILE p = cmsOpenProfileFromMem(profile.data(), cmsUInt32Number(profile.size()));
    const cmsColorSpaceSignature sig = p ? cmsGetColorSpace(p) : cmsSigGrayData;
    const bool matches =
        p && ((n == 1 && sig == cmsSigGrayData) || (n == 3 && sig == cmsSigRgbData) ||
              (n == 4 && sig == cmsSigCmykData));
    if (n == 1 || !matches) {
        // Grey stays grey; a profile that does not load or fit falls back to the alternate.
        if (p)
            cmsCloseProfile(p);
        alternate->kind = kColorSpaceICCBased;
        return alternate;
    }
    cs->transform = transformToSRGB(p, n == 3 ? TYPE_RGB_8 : TYPE_CMYK_8);
    if (!cs->transform) {
        alternate->kind = kColorSpaceICCBased;
        return alternate;
    }
    return cs;
}

std::shared_ptr<PDFColorSpace> indexed(QPDFObjectHandle array, QPDFObjectHandle page, int depth) {
    std::shared_ptr<PDFColorSpace> base;
    if (array.getArrayNItems() > 1)
        base = CreateColorSpaceFromPDF(array.getArrayItem(1), page, depth + 1);
    if (!base)
        base = device(ColorFamily::Gray, 1);
    if (base->family == ColorFamily::Indexed)
        return nullptr;
    auto cs = std::make_shared<PDFColorSpace>();
    cs->family = ColorFamily::Indexed;
    cs->kind = kColorSpaceIndexed;
    cs->components = 1;
    cs->ranges = {0, 255};
    QPDFObjectHandle hival =
        array.getArrayNItems() > 2 ? array.getArrayItem(2) : QPDFObjectHandle::newNull();
    cs->hival = hival.isNumber() ? std::clamp(int(hival.getNumericValue()), 0, 255) : 0;
    QPDFObjectHandle table =
        array.getArrayNItems() > 3 ? array.getArrayItem(3) : QPDFObjectHandle::newNull();
    std::vector<std::uint8_t> bytes;
    if (table.isStream()) {
        readGenericStreamData(table, 256 * 32, bytes);
    } else if (table.isString()) {
        const std::string s = table.getStringValue();
        bytes.assign(s.begin(), s.end());
    }
    const std::size_t k = std::size_t(base->components);
    // Entries beyond the table's end read as 0 rather than past it.
    bytes.resize(std::size_t(cs->hival + 1) * k, 0);
    if (base->family == ColorFamily::Separation || base->family == ColorFamily::DeviceN) {
        std::vector<std::uint8_t> tinted;
        std::string reason;
        if (applyTintTransform(*base, bytes, tinted, &reason))
            bytes = std::move(tinted);
        else // the untransformed tints are no colours of the base's alternate
            cs->refusal =
                reason.empty() ? "a palette whose tint transform this library cannot use" : reason;
        base = base->alternate;
    }
    cs->lookup = std::move(bytes);
    cs->base = base;
    return cs;
}

std::shared_ptr<PDFColorSpace> separation(QPDFObjectHandle array, QPDFObjectHandle page, int depth,
                                          bool deviceN) {
    std::shared_ptr<PDFColorSpace> alternate;
    if (array.getArrayNItems() > 2)
        alternate = CreateColorSpaceFromPDF(array.getArrayItem(2), page, depth + 1);
    if (!alternate || alternate->family == ColorFamily::Indexed ||
        alternate->family == ColorFamily::Separation || alternate->family == ColorFamily::DeviceN)
        alternate = device(ColorFamily::Gray, 1);
    auto cs = std::make_shared<PDFColorSpace>();
    cs->family = deviceN ? ColorFamily::DeviceN : ColorFamily::Separation;
    cs->kind = deviceN ? kColorSpaceDeviceN : kColorSpaceSeparation;
    int m = 1;
    if (deviceN) {
        QPDFObjectHandle names =
            array.getArrayNItems() > 1 ? array.getArrayItem(1) : QPDFObjectHandle::newNull();
        m = names.isArray() ? names.getArrayNItems() : 1;
        if (m < 1 || m > 32)
            return nullptr;
    }
    cs->components = m;
    cs->ranges.assign(std::size_t(2 * m), 0.0);
    for (int i = 0; i < m; ++i)
        cs->ranges[std::size_t(2 * i + 1)] = 1.0;
    cs->array = array;
    cs->alternate = alternate;
    return cs;
}

std::uint8_t toByte(double v) {
    if (!(v > 0)) // also NaN
        return 0;
    if (v >= 1)
        return 255;
    return std::uint8_t(std::lround(v * 255.0));
}

} // namespace

bool PDFColorSpace::outputIsGray() const {
    return family == ColorFamily::Gray || grayOutput;
}

void PDFColorSpace::toOutput(const std::uint8_t* samples, std::size_t count,
                             std::uint8_t* out) const {
    switch (family) {
    case ColorFamily::Gray:
        std::copy(samples, samples + count, out);
        return;
    case ColorFamily::RGB:
        std::copy(samples, samples + 3 * count, out);
        return;
    case ColorFamily::CMYK:
        for (std::size_t i = 0; i < count; ++i) {
            const std::uint8_t* p = samples + 4 * i;
            const int k = 255 - p[3];
            for (int c = 0; c < 3; ++c)
                out[3 * i + std::size_t(c)] = std::uint8_t((255 - p[c]) * k / 255);
        }
        return;
    case ColorFamily::Lab: {
        std::vector<double> lab(3 * std::min<std::size_t>(count, 4096));
        for (std::size_t done = 0; done < count;) {
            const std::size_t n = std::min<std::size_t>(count - done, 4096);
            for (std::size_t i = 0; i < 3 * n; ++i) {
                const std::size_t c = i % 3;
                lab[i] = ranges[2 * c] +
                         samples[3 * done + i] * (ranges[2 * c + 1] - ranges[2 * c]) / 255.0;
            }
            cmsDoTransform(transform->handle, lab.data(), out + 3 * done, cmsUInt32Number(n));
            done += n;
        }
        return;
    }
    case ColorFamily::Managed:
        if (grayOutput) {
            // Through sRGB, keeping one channel: a neutral grey stays neutral.
            std::uint8_t rgb[3 * 1024];
            for (std::size_t done = 0; done < count;) {
                const std::size_t n = std::min<std::size_t>(count - done, 1024);
                cmsDoTransform(transform->handle, samples + done, rgb, cmsUInt32Number(n));
                for (std::size_t i = 0; i < n; ++i)
                    out[done + i] = rgb[3 * i + 1];
                done += n;
            }
            return;
        }
        cmsDoTransform(transform->handle, samples, out, cmsUInt32Number(count));
        return;
    case ColorFamily::Indexed:
    case ColorFamily::Separation:
    case ColorFamily::DeviceN:
        // Resolved to their base or alternate before conversion; grey if one slips through.
        for (std::size_t i = 0; i < count; ++i)
            out[3 * i] = out[3 * i + 1] = out[3 * i + 2] = samples[i * std::size_t(components)];
        return;
    }
}

std::shared_ptr<PDFColorSpace> DeviceColorSpaceFromName(const std::string& name) {
    if (name == "/DeviceRGB" || name == "/RGB")
        return device(ColorFamily::RGB, 3);
    if (name == "/DeviceCMYK" || name == "/CMYK")
        return device(ColorFamily::CMYK, 4);
    if (name == "/DeviceGray" || name == "/G")
        return device(ColorFamily::Gray, 1);
    return nullptr;
}

std::shared_ptr<PDFColorSpace> DeviceColorSpaceForComponents(int colorCode) {
    switch (colorCode) {
    case 1:
        return device(ColorFamily::Gray, 1);
    case 2:
        return device(ColorFamily::RGB, 3);
    case 3:
        return device(ColorFamily::CMYK, 4);
    default:
        return nullptr;
    }
}

std::shared_ptr<PDFColorSpace>
CreateColorSpaceFromPDF(QPDFObjectHandle object, QPDFObjectHandle pageColorSpaces, int depth) {
    if (depth > kMaxColorSpaceDepth)
        return nullptr;
    try {
        if (object.isName()) {
            if (auto cs = DeviceColorSpaceFromName(object.getName()))
                return cs;
            if (pageColorSpaces.isDictionary() && pageColorSpaces.hasKey(object.getName())) {
                QPDFObjectHandle named = pageColorSpaces.getKey(object.getName());
                if (!named.isName() || named.getName() != object.getName())
                    return CreateColorSpaceFromPDF(named, pageColorSpaces, depth + 1);
            }
            return nullptr;
        }
        if (!object.isArray() || object.getArrayNItems() < 1)
            return nullptr;
        QPDFObjectHandle familyName = object.getArrayItem(0);
        if (!familyName.isName())
            return nullptr;
        const std::string family = familyName.getName();
        QPDFObjectHandle second =
            object.getArrayNItems() > 1 ? object.getArrayItem(1) : QPDFObjectHandle::newNull();
        if (family == "/ICCBased")
            return iccBased(second, pageColorSpaces, depth);
        if (family == "/Indexed" || family == "/I")
            return indexed(object, pageColorSpaces, depth);
        if (family == "/CalRGB")
            return calRGB(second);
        if (family == "/CalGray")
            return calGray(second);
        if (family == "/Lab")
            return lab(second);
        if (family == "/Separation")
            return separation(object, pageColorSpaces, depth, false);
        if (family == "/DeviceN")
            return separation(object, pageColorSpaces, depth, true);
        if (family == "/Pattern")
            return nullptr;
        // A device name inside an array, as some writers put it.
        return DeviceColorSpaceFromName(family);
    } catch (const std::exception&) {
        return nullptr;
    }
}

std::shared_ptr<PDFColorSpace> CreateColorSpaceFromICCData(const std::vector<std::uint8_t>& data) {
    if (data.empty())
        return nullptr;
    silenceLittleCMS();
    cmsHPROFILE p = cmsOpenProfileFromMem(data.data(), cmsUInt32Number(data.size()));
    if (!p)
        return nullptr;
    const cmsColorSpaceSignature sig = cmsGetColorSpace(p);
    if (sig == cmsSigGrayData) {
        cmsCloseProfile(p);
        return device(ColorFamily::Gray, 1);
    }
    const int n = sig == cmsSigRgbData ? 3 : sig == cmsSigCmykData ? 4 : 0;
    if (!n) {
        cmsCloseProfile(p);
        return nullptr;
    }
    auto cs = device(ColorFamily::Managed, n);
    cs->kind = kColorSpaceICCBased;
    cs->transform = transformToSRGB(p, n == 3 ? TYPE_RGB_8 : TYPE_CMYK_8);
    return cs->transform ? cs : nullptr;
}

bool applyTintTransform(const PDFColorSpace& space, const std::vector<std::uint8_t>& samples,
                        std::vector<std::uint8_t>& out, std::string* reason,
                        std::uint64_t operationBudget) {
    QPDFObjectHandle array = space.array;
    if (!space.alternate || !array.isArray() || array.getArrayNItems() < 4)
        return false;
    PDFFunction function;
    InitPDFFunction(function);
    parsePDFFunctionObject(function, array.getArrayItem(3));
    const int m = space.components;
    const int k = space.alternate->components;
    if (!function.usable || function.outputCount < k)
        return false;
    PSOperationBudget budget;
    budget.remaining = operationBudget;
    function.budget = &budget;
    const std::vector<double>& ranges = space.alternate->ranges;
    const std::size_t entries = samples.size() / std::size_t(m);
    out.resize(entries * std::size_t(k));
    std::vector<double> inputs = std::vector<double>(std::size_t(m));
    // One input: a table of all 256 tints; several: a cache of the colours met so far.
    std::unordered_map<std::uint64_t, std::uint32_t> cache;
    std::vector<std::uint8_t> results;
    auto evaluate = [&](const std::uint8_t* in, std::uint8_t* to) {
        for (int i = 0; i < m; ++i)
            inputs[std::size_t(i)] = in[i] / 255.0;
        EvaluatePDFFunction(function, inputs.data(), std::uint16_t(m));
        for (int j = 0; j < k; ++j) {
            // Outputs are in the alternate space's units; clamped into its range.
            const double lo = ranges[std::size_t(2 * j)], hi = ranges[std::size_t(2 * j + 1)];
            const double v = function.outputBuffer[std::size_t(j)];
            to[j] = toByte(hi > lo ? (v - lo) / (hi - lo) : 0.0);
        }
    };
    auto overBudget = [&] {
        if (!budget.exhausted)
            return false;
        if (reason)
            *reason = budget.remaining == 0
                          ? "the colour function of this image needs more than " +
                                std::to_string(operationBudget) + " operations in all"
                          : "the colour function of this image needs more than " +
                                std::to_string(budget.perEvaluation) + " operations a colour";
        return true;
    };
    for (std::size_t e = 0; e < entries; ++e) {
        const std::uint8_t* in = samples.data() + e * std::size_t(m);
        std::uint8_t* to = out.data() + e * std::size_t(k);
        if (m > 8 || cache.size() > 65536) {
            evaluate(in, to);
            if (overBudget())
                return false;
            continue;
        }
        std::uint64_t key = 0;
        for (int i = 0; i < m; ++i)
            key = (key << 8) | in[i];
        auto it = cache.find(key);
        if (it != cache.end()) {
            std::copy_n(results.data() + it->second, k, to);
            continue;
        }
        evaluate(in, to);
        if (overBudget())
            return false;
        cache.emplace(key, std::uint32_t(results.size()));
        results.insert(results.end(), to, to + k);
    }
    return true;
}
