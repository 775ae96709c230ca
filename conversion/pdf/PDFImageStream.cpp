#include "PDFImageStream.h"

#include "ImageStreamCodecs.h"
#include "PDFColorSpace.h"
#include "PDFStreamData.h"

#include <algorithm>
#include <cmath>

namespace {

QPDFObjectHandle key(QPDFObjectHandle dict, const char* full, const char* abbreviation) {
    QPDFObjectHandle v = dict.getKey(full);
    if (v.isNull() && abbreviation)
        v = dict.getKey(abbreviation);
    return v;
}

std::vector<double> numberArray(QPDFObjectHandle array) {
    std::vector<double> v;
    if (!array.isArray())
        return v;
    for (int i = 0; i < array.getArrayNItems(); ++i) {
        QPDFObjectHandle item = array.getArrayItem(i);
        v.push_back(item.isNumber() ? item.getNumericValue() : 0.0);
    }
    return v;
}

std::uint8_t clampByte(double v) {
    if (!(v > 0))
        return 0;
    if (v >= 255)
        return 255;
    return std::uint8_t(std::lround(v));
}

// Unpacks rows of `components` samples of `bits` each (rows padded to whole bytes) into one
// byte per sample: the sample through the Decode array, mapped so that 0..255 spans the
// component's range (indices of an indexed space stay indices). `keyed` marks the pixels whose
// raw samples all fall inside the colour-key ranges.
void unpackSamples(const std::vector<std::uint8_t>& data, std::int64_t width, std::int64_t height,
                   int components, int bits, const std::vector<double>& decode,
                   const PDFColorSpace& space, const std::vector<double>& colorKey,
                   std::vector<std::uint8_t>& out, std::vector<std::uint8_t>* keyed) {
    const std::uint64_t maxValue = (std::uint64_t(1) << bits) - 1;
    const bool indexed = space.family == ColorFamily::Indexed;
    // One table per component from raw sample to byte.
    auto tables = std::vector<std::vector<std::uint8_t>>(std::size_t(components));
    for (int c = 0; c < components; ++c) {
        const double lo = indexed ? 0.0 : space.ranges[std::size_t(2 * c)];
        const double hi = indexed ? double(maxValue) : space.ranges[std::size_t(2 * c + 1)];
        const bool hasDecode = decode.size() >= std::size_t(2 * c + 2);
        const double d0 = hasDecode ? decode[std::size_t(2 * c)] : lo;
        const double d1 = hasDecode ? decode[std::size_t(2 * c + 1)] : hi;
        std::vector<std::uint8_t>& t = tables[std::size_t(c)];
        t.resize(std::size_t(maxValue + 1));
        for (std::uint64_t s = 0; s <= maxValue; ++s) {
            const double v = d0 + double(s) * (d1 - d0) / double(maxValue);
            t[std::size_t(s)] = indexed    ? clampByte(v)
                                : hi == lo ? 0
                                           : clampByte((v - lo) / (hi - lo) * 255.0);
        }
    }
    const bool useKey = keyed && colorKey.size() >= std::size_t(2 * components);
    if (useKey)
        keyed->assign(std::size_t(width * height), 0);
    const std::size_t rowBytes = std::size_t((width * components * bits + 7) / 8);
    out.resize(std::size_t(width * height * components));
    std::uint8_t* to = out.data();
    for (std::int64_t y = 0; y < height; ++y) {
        const std::uint8_t* row = data.data() + std::size_t(y) * rowBytes;
        std::uint64_t bit = 0;
        for (std::int64_t x = 0; x < width; ++x) {
            bool inKey = useKey;
            for (int c = 0; c < components; ++c) {
                std::uint64_t s;
                if (bits == 8) {
                    s = row[bit / 8];
                } else if (bits == 16) {
                    s = std::uint64_t(row[bit / 8]) << 8 | row[bit / 8 + 1];
                } else {
                    s = (row[bit / 8] >> (8 - bits - bit % 8)) & maxValue;
                }
                bit += std::uint64_t(bits);
                *to++ = tables[std::size_t(c)][std::size_t(s)];
                if (inKey)
                    inKey = double(s) >= colorKey[std::size_t(2 * c)] &&
                            double(s) <= colorKey[std::size_t(2 * c + 1)];
            }
            if (inKey)
                (*keyed)[std::size_t(y * width + x)] = 1;
        }
    }
}

// Whether every component spans 0 to 1, so that 8-bit samples map to themselves.
bool hasUnitRanges(const PDFColorSpace& space) {
    if (space.ranges.size() < std::size_t(2 * space.components))
        return false;
    for (int c = 0; c < space.components; ++c) {
        if (space.ranges[std::size_t(2 * c)] != 0.0 || space.ranges[std::size_t(2 * c + 1)] != 1.0)
            return false;
    }
    return true;
}

// A mask of another size is scaled to the image by nearest pixel.
std::vector<std::uint8_t> scaledGray(const PDFPicture& mask, std::int64_t width,
                                     std::int64_t height) {
    std::vector<std::uint8_t> out(std::size_t(width * height));
    const int step = mask.pixelBytes();
    for (std::int64_t y = 0; y < height; ++y) {
        const std::int64_t my = y * mask.height / height;
        for (std::int64_t x = 0; x < width; ++x) {
            const std::int64_t mx = x * mask.width / width;
            const std::uint8_t* p = mask.pixels.data() + std::size_t((my * mask.width + mx) * step);
            // An RGB mask (which a damaged file may give) counts by its green.
            out[std::size_t(y * width + x)] = mask.channels == 3 ? p[1] : p[0];
        }
    }
    return out;
}

bool decodeImage(const ImageStreamContext& context, QPDFObjectHandle dict, QPDFObjectHandle stream,
                 PDFPicture& picture, std::string& error, bool isMask);

void attachAlpha(PDFPicture& picture, const std::vector<std::uint8_t>& alpha) {
    const std::size_t count = std::size_t(picture.width * picture.height);
    const int channels = picture.channels;
    std::vector<std::uint8_t> out(count * std::size_t(channels + 1));
    for (std::size_t i = 0; i < count; ++i) {
        std::copy_n(picture.pixels.data() + i * std::size_t(channels), channels,
                    out.data() + i * std::size_t(channels + 1));
        out[i * std::size_t(channels + 1) + std::size_t(channels)] = alpha[i];
    }
    picture.pixels = std::move(out);
    picture.hasAlpha = true;
}

bool decodeImage(const ImageStreamContext& context, QPDFObjectHandle dict, QPDFObjectHandle stream,
                 PDFPicture& picture, std::string& error, bool isMask) {
    QPDFObjectHandle w = key(dict, "/Width", "/W");
    QPDFObjectHandle h = key(dict, "/Height", "/H");
    if (!w.isNumber() || !h.isNumber()) {
        error = "image without a width or height";
        return false;
    }
    const double wv = w.getNumericValue(), hv = h.getNumericValue();
    if (!(wv >= 1 && hv >= 1 && wv <= double(context.maxPixels) &&
          hv <= double(context.maxPixels))) {
        error = "image with an unusable size";
        return false;
    }
    const std::int64_t width = std::int64_t(wv), height = std::int64_t(hv);
    if (std::uint64_t(width) * std::uint64_t(height) > context.maxPixels) {
        error = "image of " + std::to_string(width) + " x " + std::to_string(height) +
                " pixels is over the size limit";
        return false;
    }
    QPDFObjectHandle imageMask = key(dict, "/ImageMask", "/IM");
    const bool stencil = imageMask.isBool() && imageMask.getBoolValue();
    QPDFObjectHandle bpcObject = key(dict, "/BitsPerComponent", "/BPC");
    int bits = bpcObject.isInteger() ? int(bpcObject.getIntValue()) : 8;
    if (stencil)
        bits = 1;

    // Colour space (checked once the data's format is known).
    std::shared_ptr<PDFColorSpace> space;
    QPDFObjectHandle csObject = key(dict, "/ColorSpace", "/CS");
    if (!stencil && !csObject.isNull())
        space = CreateColorSpaceFromPDF(csObject, context.pageColorSpaces);

    StreamData data;
    // Raw data beyond what the largest picture needs is never read.
    const std::uint64_t cap = std::min<std::uint64_t>(
        std::uint64_t(width) * std::uint64_t(height) * 4 * 2 + 65536, conversion::kMaxPictureBytes);
    const std::uint64_t expectedComponents = space ? std::uint64_t(space->components) : 1;
    const std::uint64_t expected =
        (std::uint64_t(width) * expectedComponents * std::uint64_t(std::clamp(bits, 1, 16)) + 7) /
        8 * std::uint64_t(height);
    if (!readStreamData(stream, cap, data, expected)) {
        error = "image data that does not decode";
        return false;
    }

    if (!space && !csObject.isNull() && !stencil && data.format != StreamDataFormat::JPEG2000 &&
        bits != 1) {
        error = "image in a colour space this library does not read";
        return false;
    }
    if (!space && data.format != StreamDataFormat::JPEG2000)
        space = DeviceColorSpaceFromName("/DeviceGray");
    if (space && !space->refusal.empty()) {
        error = space->refusal;
        return false;
    }

    std::vector<double> decode = numberArray(key(dict, "/Decode", "/D"));
    std::vector<std::uint8_t> raw;
    int components = space ? space->components : 0;
    switch (data.format) {
    case StreamDataFormat::Raw:
        raw = std::move(data.bytes);
        break;
    case StreamDataFormat::JPEG: {
        int decoded = 0;
        if (!decodeDCTImageData(data.bytes, data.codecParameters, width, height, raw, decoded)) {
            error = "JPEG image data that does not decode";
            return false;
        }
        if (decoded != components) {
            // The JPEG's own components win over a colour space that does not fit them.
            space = DeviceColorSpaceForComponents(decoded == 1 ? 1 : decoded == 3 ? 2 : 3);
            components = decoded;
        }
        bits = 8;
        break;
    }
    case StreamDataFormat::JPEG2000: {
        int code = space ? space->kind : 0, count = 0;
        std::vector<std::uint8_t> profile;
        if (!decodeJPXImageData(data.bytes, width, height, raw, code, count, profile)) {
            error = "JPEG 2000 image data that does not decode";
            return false;
        }
        if (!space) {
            space = CreateColorSpaceFromICCData(profile);
            if (!space || space->components > count)
                space = DeviceColorSpaceForComponents(code);
        }
        if (!space) {
            error = "JPEG 2000 image in an unknown colour space";
            return false;
        }
        components = space->components;
        if (count > components) {
            // Samples beyond the colour components are alpha: split off as a soft mask.
            std::vector<std::uint8_t> colour, alpha;
            const std::size_t n = std::size_t(width * height);
            colour.reserve(n * std::size_t(components));
            alpha.reserve(n);
            for (std::size_t i = 0; i < n; ++i) {
                const std::uint8_t* p = raw.data() + i * std::size_t(count);
                colour.insert(colour.end(), p, p + components);
                alpha.push_back(p[components]);
            }
            raw = std::move(colour);
            if (context.formatSupportsAlpha && !isMask) {
                PDFPicture a;
                a.width = width;
                a.height = height;
                a.pixels = std::move(alpha);
                picture.hasAlpha = true; // attached below
                picture.pixels = std::move(a.pixels);
            }
        } else if (count < components) {
            error = "JPEG 2000 image with fewer samples than its colour space";
            return false;
        }
        bits = 8;
        decode.clear(); // decoded samples are already in their final form
        break;
    }
    case StreamDataFormat::JBIG2:
    case StreamDataFormat::CCITT: {
        const bool ok =
            data.format == StreamDataFormat::JBIG2
                ? decodeJBIG2ImageData(data.bytes, data.codecParameters, width, height, raw)
                : decodeCCITTImageData(data.bytes, data.codecParameters, width, height, raw);
        if (!ok) {
            error = "fax image data that does not decode";
            return false;
        }
        bits = 1;
        if (components != 1) {
            space = DeviceColorSpaceFromName("/DeviceGray");
            components = 1;
        }
        break;
    }
    }
    std::vector<std::uint8_t> jpxAlpha;
    if (picture.hasAlpha) {
        jpxAlpha = std::move(picture.pixels);
        picture.hasAlpha = false;
    }

    if (bits != 1 && bits != 2 && bits != 4 && bits != 8 && bits != 16) {
        error = "image with " + std::to_string(bits) + " bits per component";
        return false;
    }
    if (components < 1 || components > 32) {
        error = "image with an unusable number of components";
        return false;
    }
    const std::uint64_t rowBytes =
        (std::uint64_t(width) * std::uint64_t(components) * std::uint64_t(bits) + 7) / 8;
    const std::uint64_t needed = rowBytes * std::uint64_t(height);
    std::size_t outBytes = 0;
    if (!conversion::checkedPictureBytes(width, height, std::max(components, 4), &outBytes, &error))
        return false;
    if (raw.empty()) {
        error = "image without data";
        return false;
    }
    // A stream that ends early: the rows it does not reach stay zero, as viewers show them.
    if (raw.size() < needed)
        raw.resize(std::size_t(needed), 0);

    // Colour key: only of a raw image, tested on the samples as stored. A soft mask takes
    // precedence over /Mask of either kind.
    QPDFObjectHandle mask = dict.getKey("/Mask");
    QPDFObjectHandle softMask = dict.getKey("/SMask");
    const bool hasSoftMask = softMask.isStream();
    const bool wantsAlpha = context.formatSupportsAlpha && !isMask;
    std::vector<double> colorKey =
        wantsAlpha && !hasSoftMask ? numberArray(mask) : std::vector<double>();
    std::vector<std::uint8_t> keyed;
    std::vector<std::uint8_t> samples;
    // 8-bit grey or RGB samples as stored are the pixels already: no copy is made of them.
    const bool asStored =
        bits == 8 && decode.empty() && colorKey.empty() && !space->grayOutput &&
        (space->family == ColorFamily::Gray || space->family == ColorFamily::RGB) &&
        hasUnitRanges(*space);
    if (asStored) {
        raw.resize(std::size_t(needed));
        samples = std::move(raw);
    } else {
        unpackSamples(raw, width, height, components, bits, decode, *space, colorKey, samples,
                      colorKey.empty() ? nullptr : &keyed);
    }
    raw = std::vector<std::uint8_t>();

    // Indexed samples to their base colours, Separation and DeviceN through their tints.
    if (space->family == ColorFamily::Indexed) {
        const std::shared_ptr<PDFColorSpace> base = space->base;
        const std::size_t k = std::size_t(base->components);
        std::vector<std::uint8_t> expanded(samples.size() * k);
        for (std::size_t i = 0; i < samples.size(); ++i) {
            const std::size_t index = std::min<std::size_t>(samples[i], std::size_t(space->hival));
            std::copy_n(space->lookup.data() + index * k, k, expanded.data() + i * k);
        }
        samples = std::move(expanded);
        space = base;
    }
    if (space->family == ColorFamily::Separation || space->family == ColorFamily::DeviceN) {
        std::vector<std::uint8_t> tinted;
        std::string reason;
        if (!applyTintTransform(*space, samples, tinted, &reason)) {
            error = reason.empty() ? "colour space with a tint transform this library cannot use"
                                   : reason;
            return false;
        }
        samples = std::move(tinted);
        space = space->alternate;
    }

    picture.width = width;
    picture.height = height;
    picture.channels = space->outputIsGray() ? 1 : 3;
    picture.hasAlpha = false;
    const std::size_t count = std::size_t(width * height);
    if (asStored) {
        picture.pixels = std::move(samples);
    } else {
        picture.pixels.assign(count * std::size_t(picture.channels), 0);
        space->toOutput(samples.data(), count, picture.pixels.data());
    }
    samples = std::vector<std::uint8_t>();

    if (!wantsAlpha)
        return true;
    if (!jpxAlpha.empty()) {
        attachAlpha(picture, jpxAlpha);
        return true;
    }
    if (!keyed.empty()) {
        std::vector<std::uint8_t> alpha(count);
        for (std::size_t i = 0; i < count; ++i)
            alpha[i] = keyed[i] ? 0 : 255;
        attachAlpha(picture, alpha);
        return true;
    }
    // The soft mask, or else a stencil /Mask (painted where its samples are 0), decoded without
    // masks of their own.
    const bool stencilMask = !hasSoftMask && mask.isStream();
    QPDFObjectHandle maskStream = hasSoftMask ? softMask : mask;
    if (!maskStream.isStream())
        return true;
    PDFPicture maskPicture;
    std::string maskError;
    QPDFObjectHandle maskDict = maskStream.getDict();
    if (!decodeImage(context, maskDict, maskStream, maskPicture, maskError, true))
        return true; // the image stands without its mask
    std::vector<std::uint8_t> alpha = scaledGray(maskPicture, width, height);
    if (stencilMask) {
        for (std::uint8_t& a : alpha)
            a = std::uint8_t(255 - a);
    }
    attachAlpha(picture, alpha);
    return true;
}

} // namespace

bool CreateImageFromPDFStream(const ImageStreamContext& context, QPDFObjectHandle dict,
                              QPDFObjectHandle stream, PDFPicture& picture, std::string& error) {
    picture = PDFPicture();
    try {
        if (!dict.isDictionary() || !stream.isStream()) {
            error = "not an image stream";
            return false;
        }
        return decodeImage(context, dict, stream, picture, error, false);
    } catch (const std::exception& e) {
        error = std::string("damaged image: ") + e.what();
        picture = PDFPicture();
        return false;
    }
}
