#include "WebPCodec.h"

#include <webp/encode.h>
#include <webp/mux.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <string>

namespace conversion {

namespace {

// libwebp's encoding errors in words.
std::string encodingErrorText(WebPEncodingError code) {
    switch (code) {
    case VP8_ENC_ERROR_OUT_OF_MEMORY:
    case VP8_ENC_ERROR_BITSTREAM_OUT_OF_MEMORY:
        return "the WebP encoder ran out of memory";
    case VP8_ENC_ERROR_BAD_DIMENSION:
        return "WebP holds pictures of at most 16383 x 16383 pixels";
    case VP8_ENC_ERROR_PARTITION0_OVERFLOW:
    case VP8_ENC_ERROR_PARTITION_OVERFLOW:
    case VP8_ENC_ERROR_FILE_TOO_BIG:
        return "the picture is too large for a WebP file";
    case VP8_ENC_ERROR_USER_ABORT:
        return "the WebP encoding was stopped";
    default:
        return "the WebP encoder failed";
    }
}

} // namespace

namespace {

struct PictureOwner {
    WebPPicture picture;
    ~PictureOwner() { WebPPictureFree(&picture); }
};

struct MemoryWriterOwner {
    WebPMemoryWriter writer;
    MemoryWriterOwner() { WebPMemoryWriterInit(&writer); }
    ~MemoryWriterOwner() { WebPMemoryWriterClear(&writer); }
};

struct MuxDeleter {
    void operator()(WebPMux* mux) const { WebPMuxDelete(mux); }
};

} // namespace

bool configureWebPEncoder(WebPConfig& config, double quality) {
    if (!WebPConfigPreset(&config, WEBP_PRESET_DEFAULT, 75))
        return false;
    config.thread_level = 1;
    if (quality == 1.0) {
        config.lossless = 1;
        config.alpha_compression = 1;
    } else {
        const double q = std::isfinite(quality) ? std::clamp(quality, 0.0, 1.0) : 0.75;
        config.quality = float(q * 100.0);
        config.alpha_quality = int(q * 100.0);
    }
    return WebPValidateConfig(&config) != 0;
}

namespace {

bool addChunk(WebPMux* mux, const char* fourcc, const std::vector<std::uint8_t>& bytes) {
    if (bytes.empty())
        return true;
    const WebPData data{bytes.data(), bytes.size()};
    return WebPMuxSetChunk(mux, fourcc, &data, 1) == WEBP_MUX_OK;
}

} // namespace

bool encodeWebPBitmap(const Bitmap& bitmap, double quality, const std::vector<std::uint8_t>& exif,
                      std::vector<std::uint8_t>& out, std::string& error,
                      const std::function<void()>& pixelsNoLongerNeeded) {
    if (bitmap.empty()) {
        error = "no picture to encode";
        return false;
    }
    if (bitmap.width > WEBP_MAX_DIMENSION || bitmap.height > WEBP_MAX_DIMENSION) {
        error = "the picture is too large for WebP (at most 16383 pixels a side)";
        return false;
    }
    WebPConfig config;
    if (!configureWebPEncoder(config, quality)) {
        error = "the WebP encoder could not be set up";
        return false;
    }
    // WebP holds RGB and alpha only: grey and CMYK pictures are turned into RGB first.
    const Bitmap rgb = bitmap.model == ColorModel::RGB
                           ? Bitmap()
                           : convertBitmap(bitmap, ColorModel::RGB, bitmap.hasAlpha);
    const Bitmap& source = bitmap.model == ColorModel::RGB ? bitmap : rgb;
    PictureOwner owner;
    if (!WebPPictureInit(&owner.picture)) {
        error = "the WebP encoder could not be set up";
        return false;
    }
    WebPPicture& picture = owner.picture;
    picture.width = int(source.width);
    picture.height = int(source.height);
    picture.use_argb = config.lossless;
    const int stride = int(source.rowBytes());
    const int imported = source.hasAlpha
                             ? WebPPictureImportRGBA(&picture, source.pixels.data(), stride)
                             : WebPPictureImportRGB(&picture, source.pixels.data(), stride);
    if (!imported) {
        error = "out of memory for the WebP picture";
        return false;
    }
    // The profile is read after encoding: keep it, not the pixels.
    const std::vector<std::uint8_t> icc =
        bitmap.model == ColorModel::CMYK ? std::vector<std::uint8_t>() : bitmap.iccProfile;
    if (pixelsNoLongerNeeded)
        pixelsNoLongerNeeded();
    MemoryWriterOwner encoded;
    picture.writer = WebPMemoryWrite;
    picture.custom_ptr = &encoded.writer;
    if (!WebPEncode(&config, &picture)) {
        error = encodingErrorText(picture.error_code);
        return false;
    }
    // Bitmaps converted from CMYK have no profile that still fits them (see above).
    if (icc.empty() && exif.empty()) {
        out.assign(encoded.writer.mem, encoded.writer.mem + encoded.writer.size);
        return true;
    }
    const WebPData image{encoded.writer.mem, encoded.writer.size};
    std::unique_ptr<WebPMux, MuxDeleter> mux(WebPMuxCreate(&image, 1));
    WebPData assembled{nullptr, 0};
    if (!mux || !addChunk(mux.get(), "ICCP", icc) || !addChunk(mux.get(), "EXIF", exif) ||
        WebPMuxAssemble(mux.get(), &assembled) != WEBP_MUX_OK) {
        error = "the WebP file could not be put together with its metadata";
        return false;
    }
    out.assign(assembled.bytes, assembled.bytes + assembled.size);
    WebPDataClear(&assembled);
    return true;
}

} // namespace conversion
