#include "JPEG2000Codec.h"

#include "PixelLimits.h"
#include "ProfileToSRGB.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <openjpeg.h>

namespace {

void IgnoreJPEG2000Message(const char*, void*) {}

struct MemoryReader {
    const std::uint8_t* data;
    std::size_t size;
    std::size_t offset;
};

OPJ_SIZE_T readMemory(void* buffer, OPJ_SIZE_T count, void* user) {
    auto* r = static_cast<MemoryReader*>(user);
    if (r->offset >= r->size)
        return OPJ_SIZE_T(-1);
    const std::size_t n = std::min<std::size_t>(count, r->size - r->offset);
    std::memcpy(buffer, r->data + r->offset, n);
    r->offset += n;
    return n;
}
OPJ_OFF_T skipMemory(OPJ_OFF_T count, void* user) {
    auto* r = static_cast<MemoryReader*>(user);
    if (count < 0) {
        const std::size_t back = std::min<std::size_t>(std::size_t(-count), r->offset);
        r->offset -= back;
        return -OPJ_OFF_T(back);
    }
    const std::size_t n = std::min<std::size_t>(std::size_t(count), r->size - r->offset);
    r->offset += n;
    return OPJ_OFF_T(n);
}
OPJ_BOOL seekMemory(OPJ_OFF_T position, void* user) {
    auto* r = static_cast<MemoryReader*>(user);
    if (position < 0 || std::size_t(position) > r->size)
        return OPJ_FALSE;
    r->offset = std::size_t(position);
    return OPJ_TRUE;
}

struct MemoryWriter {
    std::vector<std::uint8_t>* out;
    std::size_t offset;
};
OPJ_SIZE_T writeMemory(void* buffer, OPJ_SIZE_T count, void* user) {
    auto* w = static_cast<MemoryWriter*>(user);
    if (w->offset + count > w->out->size())
        w->out->resize(w->offset + count);
    std::memcpy(w->out->data() + w->offset, buffer, count);
    w->offset += count;
    return count;
}
OPJ_OFF_T skipWriter(OPJ_OFF_T count, void* user) {
    auto* w = static_cast<MemoryWriter*>(user);
    if (count < 0 && std::size_t(-count) > w->offset)
        return -1;
    w->offset = std::size_t(OPJ_OFF_T(w->offset) + count);
    if (w->offset > w->out->size())
        w->out->resize(w->offset);
    return count;
}
OPJ_BOOL seekWriter(OPJ_OFF_T position, void* user) {
    auto* w = static_cast<MemoryWriter*>(user);
    if (position < 0)
        return OPJ_FALSE;
    w->offset = std::size_t(position);
    if (w->offset > w->out->size())
        w->out->resize(w->offset);
    return OPJ_TRUE;
}

void quiet(opj_codec_t* codec) {
    opj_set_error_handler(codec, IgnoreJPEG2000Message, nullptr);
    opj_set_warning_handler(codec, IgnoreJPEG2000Message, nullptr);
    opj_set_info_handler(codec, IgnoreJPEG2000Message, nullptr);
}

opj_image_t* decodeImage(const std::uint8_t* bytes, std::size_t length) {
    if (!bytes || length < 2)
        return nullptr;
    const bool codestream = bytes[0] == 0xFF && bytes[1] == 0x4F;
    opj_codec_t* codec = opj_create_decompress(codestream ? OPJ_CODEC_J2K : OPJ_CODEC_JP2);
    if (!codec)
        return nullptr;
    quiet(codec);
    opj_dparameters_t parameters;
    opj_set_default_decoder_parameters(&parameters);
    opj_image_t* image = nullptr;
    MemoryReader reader{bytes, length, 0};
    opj_stream_t* stream = opj_stream_default_create(OPJ_TRUE);
    if (stream && opj_setup_decoder(codec, &parameters)) {
        opj_stream_set_user_data(stream, &reader, nullptr);
        opj_stream_set_user_data_length(stream, length);
        opj_stream_set_read_function(stream, readMemory);
        opj_stream_set_skip_function(stream, skipMemory);
        opj_stream_set_seek_function(stream, seekMemory);
        if (opj_read_header(stream, codec, &image)) {
            // Refuse what the cap refuses before OpenJPEG allocates the tiles.
            const std::int64_t w = std::int64_t(image->x1) - image->x0;
            const std::int64_t h = std::int64_t(image->y1) - image->y0;
            if (image->numcomps == 0 ||
                !conversion::checkedPictureBytes(w, h, std::max<OPJ_UINT32>(1, image->numcomps),
                                                 nullptr) ||
                !opj_decode(codec, stream, image) || !opj_end_decompress(codec, stream)) {
                opj_image_destroy(image);
                image = nullptr;
            }
        } else if (image) {
            opj_image_destroy(image);
            image = nullptr;
        }
    }
    if (stream)
        opj_stream_destroy(stream);
    opj_destroy_codec(codec);
    return image;
}

} // namespace

int CreatePixelDataFromJPEG2000(const std::vector<std::uint8_t>& data,
                                std::vector<std::uint8_t>* pixels, int* colorCode,
                                int* componentCount, std::vector<std::uint8_t>* iccProfile,
                                std::uint32_t* outWidth, std::uint32_t* outHeight,
                                std::vector<std::uint16_t>* deep) {
    if (data.size() < 2 || !pixels)
        return -1;
    opj_image_t* image = decodeImage(data.data(), data.size());
    if (!image)
        return -1;
    const OPJ_UINT32 n = image->numcomps;
    const opj_image_comp_t& first = image->comps[0];
    const std::int64_t width = first.w;
    const std::int64_t height = first.h;
    bool ok = first.data != nullptr && first.prec >= 1 && first.prec <= 31;
    for (OPJ_UINT32 c = 1; ok && c < n; ++c)
        ok = image->comps[c].w == first.w && image->comps[c].h == first.h &&
             image->comps[c].prec == first.prec && image->comps[c].data != nullptr;
    int colorComponents = 0;
    int alpha = 0;
    const bool rgbLike =
        image->color_space == OPJ_CLRSPC_SRGB || image->color_space == OPJ_CLRSPC_SYCC;
    if (n == 4 && rgbLike) {
        colorComponents = 3;
        alpha = 1;
    } else if (n == 1) {
        colorComponents = 1;
    } else if (n == 2) {
        colorComponents = 1;
        alpha = 1;
    } else if (n == 3) {
        colorComponents = 3;
    } else if (n == 4) {
        colorComponents = 4;
    } else {
        colorComponents = 4;
        alpha = 1;
    }
    const int written = colorComponents + alpha;
    std::size_t total = 0;
    if (!ok || !conversion::checkedPictureBytes(width, height, written, &total)) {
        opj_image_destroy(image);
        return -1;
    }
    std::vector<std::uint8_t> buffer;
    try {
        buffer.resize(total);
    } catch (...) {
        opj_image_destroy(image);
        return -1;
    }
    const int prec = int(first.prec);
    const std::int64_t offset = first.sgnd ? (std::int64_t(1) << (prec - 1)) : 0;
    const std::int64_t maxValue = (std::int64_t(1) << prec) - 1;
    const std::size_t count = std::size_t(width) * std::size_t(height);
    std::vector<std::uint16_t> sixteen;
    if (deep && prec == 16 && image->color_space != OPJ_CLRSPC_SYCC) {
        try {
            sixteen.resize(total);
        } catch (...) {
            sixteen.clear();
        }
    }
    for (int c = 0; c < written; ++c) {
        const OPJ_INT32* samples = image->comps[c].data;
        for (std::size_t i = 0; i < count; ++i) {
            std::int64_t v =
                std::clamp<std::int64_t>(std::int64_t(samples[i]) + offset, 0, maxValue);
            if (!sixteen.empty())
                sixteen[i * std::size_t(written) + std::size_t(c)] = std::uint16_t(v);
            if (prec > 8)
                v >>= (prec - 8);
            else if (prec < 8)
                v = v * 255 / maxValue;
            buffer[i * std::size_t(written) + std::size_t(c)] = std::uint8_t(v);
        }
    }
    if (image->color_space == OPJ_CLRSPC_SYCC && colorComponents == 3) {
        for (std::size_t i = 0; i < count; ++i) {
            std::uint8_t* p = &buffer[i * std::size_t(written)];
            const double y = p[0], cb = p[1] - 128.0, cr = p[2] - 128.0;
            p[0] = std::uint8_t(std::clamp(std::lround(y + 1.402 * cr), 0L, 255L));
            p[1] =
                std::uint8_t(std::clamp(std::lround(y - 0.344136 * cb - 0.714136 * cr), 0L, 255L));
            p[2] = std::uint8_t(std::clamp(std::lround(y + 1.772 * cb), 0L, 255L));
        }
    }
    pixels->swap(buffer);
    if (deep)
        deep->swap(sixteen);
    if (colorCode && *colorCode == 0)
        *colorCode = colorComponents == 4 ? 3 : colorComponents == 3 ? 2 : 1;
    if (componentCount)
        *componentCount = written;
    if (iccProfile) {
        if (image->icc_profile_buf && image->icc_profile_len)
            iccProfile->assign(image->icc_profile_buf,
                               image->icc_profile_buf + image->icc_profile_len);
        else
            iccProfile->clear();
    }
    if (outWidth)
        *outWidth = std::uint32_t(width);
    if (outHeight)
        *outHeight = std::uint32_t(height);
    opj_image_destroy(image);
    return 0;
}

namespace conversion {

bool decodeJPEG2000Bitmap(const std::uint8_t* bytes, std::size_t length, Bitmap& out,
                          std::string& error) {
    std::vector<std::uint8_t> data(bytes, bytes + length);
    std::vector<std::uint8_t> pixels;
    std::vector<std::uint8_t> icc;
    int colorCode = 0;
    int components = 0;
    std::uint32_t width = 0, height = 0;
    std::vector<std::uint16_t> deep;
    if (CreatePixelDataFromJPEG2000(data, &pixels, &colorCode, &components, &icc, &width, &height,
                                    &deep) != 0) {
        error = "damaged or unsupported JPEG 2000 data";
        return false;
    }
    out.width = width;
    out.height = height;
    out.model = colorCode == 3   ? ColorModel::CMYK
                : colorCode == 2 ? ColorModel::RGB
                                 : ColorModel::Gray;
    out.hasAlpha = components > out.colorChannels();
    out.pixels.swap(pixels);
    out.deepPixels.swap(deep);
    out.iccProfile.swap(icc);
    return true;
}

bool encodeJPEG2000Bitmap(const Bitmap& input, double quality, bool keepAlpha,
                          std::vector<std::uint8_t>& out, std::string& error) {
    const Bitmap flattened = keepAlpha || !input.hasAlpha ? Bitmap() : flattenAlpha(input);
    const Bitmap& unconverted = flattened.pixels.empty() ? input : flattened;
    if (unconverted.empty()) {
        error = "no picture to encode";
        return false;
    }
    // OpenJPEG writes no ICC profile through its public calls (it aborts on the attempt), so
    // tagged colours are converted to sRGB, which the JP2 file names instead.
    Bitmap converted;
    if (!unconverted.iccProfile.empty() && !convertProfiledToSRGB(unconverted, converted, error))
        return false;
    const Bitmap& flat = unconverted.iccProfile.empty() ? unconverted : converted;
    const int n = flat.channels();
    // A picture carried over from a file with 16-bit samples keeps them.
    const bool deep = &flat == &input && input.hasDeepPixels();
    std::vector<opj_image_cmptparm_t> parms(static_cast<std::size_t>(n));
    for (auto& p : parms) {
        std::memset(&p, 0, sizeof p);
        p.dx = p.dy = 1;
        p.w = OPJ_UINT32(flat.width);
        p.h = OPJ_UINT32(flat.height);
        p.prec = deep ? 16 : 8;
        p.sgnd = 0;
    }
    const OPJ_COLOR_SPACE space = flat.model == ColorModel::Gray  ? OPJ_CLRSPC_GRAY
                                  : flat.model == ColorModel::RGB ? OPJ_CLRSPC_SRGB
                                                                  : OPJ_CLRSPC_CMYK;
    opj_image_t* image = opj_image_create(OPJ_UINT32(n), parms.data(), space);
    if (!image) {
        error = "not enough memory for JPEG 2000 encoding";
        return false;
    }
    image->x1 = OPJ_UINT32(flat.width);
    image->y1 = OPJ_UINT32(flat.height);
    if (flat.hasAlpha)
        image->comps[n - 1].alpha = 1;
    const std::size_t count = std::size_t(flat.width) * std::size_t(flat.height);
    for (int c = 0; c < n; ++c)
        for (std::size_t i = 0; i < count; ++i)
            image->comps[c].data[i] = deep ? flat.deepPixels[i * std::size_t(n) + std::size_t(c)]
                                           : flat.pixels[i * std::size_t(n) + std::size_t(c)];
    opj_cparameters_t parameters;
    opj_set_default_encoder_parameters(&parameters);
    parameters.tcp_numlayers = 1;
    parameters.cp_disto_alloc = 1;
    if (quality >= 1.0) {
        parameters.tcp_rates[0] = 0; // lossless
        parameters.irreversible = 0;
    } else {
        const double q = std::isfinite(quality) ? std::clamp(quality, 0.0, 1.0) : 0.8;
        parameters.tcp_rates[0] = float(std::pow(2.0, (1.0 - q) * 8.0));
        parameters.irreversible = 1;
    }
    parameters.tcp_mct = (flat.model == ColorModel::RGB) ? 1 : 0;
    // Each resolution level halves the picture; OpenJPEG refuses levels smaller than a pixel.
    const std::int64_t shortSide = std::min(flat.width, flat.height);
    while (parameters.numresolution > 1 && (shortSide >> (parameters.numresolution - 1)) == 0)
        --parameters.numresolution;
    opj_codec_t* codec = opj_create_compress(OPJ_CODEC_JP2);
    bool ok = codec != nullptr;
    std::vector<std::uint8_t> bytes;
    MemoryWriter writer{&bytes, 0};
    opj_stream_t* stream = nullptr;
    if (ok) {
        quiet(codec);
        ok = opj_setup_encoder(codec, &parameters, image);
    }
    if (ok) {
        stream = opj_stream_default_create(OPJ_FALSE);
        ok = stream != nullptr;
    }
    if (ok) {
        opj_stream_set_user_data(stream, &writer, nullptr);
        opj_stream_set_write_function(stream, writeMemory);
        opj_stream_set_skip_function(stream, skipWriter);
        opj_stream_set_seek_function(stream, seekWriter);
        ok = opj_start_compress(codec, image, stream) && opj_encode(codec, stream) &&
             opj_end_compress(codec, stream);
    }
    if (stream)
        opj_stream_destroy(stream);
    if (codec)
        opj_destroy_codec(codec);
    opj_image_destroy(image);
    if (!ok) {
        error = "JPEG 2000 encoding failed";
        return false;
    }
    out.swap(bytes);
    return true;
}

} // namespace conversion
