// The job's encoding path: what the encoder is told for an output, the encoder and decoder of
// the round trips, and the job's image into memory.
#include "ImageConversionJob.h"

#include "ImageFormats.h"

#include <cmath>

namespace conversion {

namespace {

bool inSet(std::int32_t format, std::initializer_list<std::int32_t> set) {
    for (std::int32_t f : set)
        if (f == format)
            return true;
    return false;
}

bool isLZWFormat(std::int32_t f) {
    return inSet(f, {10, 13, 23});
}
bool isLossyFormat(std::int32_t f) {
    return inSet(f, {3, 4});
}

} // namespace

bool FormatSupportsAlpha(std::int32_t f) {
    return inSet(f, {2, 3, 7, 10});
}
bool FormatSupportsMetadata(std::int32_t f) {
    return inSet(f, {1, 2, 4, 7, 10, 13});
}
bool FormatIsBitmapFileType(std::int32_t f) {
    return inSet(f, {2, 3, 4, 7, 10, 11, 13});
}

EncoderProperties ImageDestinationProperties(const ImageConversionJob& job) {
    EncoderProperties p;
    const std::int32_t f = job.outputFormat;
    if (job.keepMetadata && FormatSupportsMetadata(f))
        p.metadataSource = job.inputURL;
    p.orientation = job.orientation;
    p.hasAlpha = inSet(f, {2, 3, 7}) || f == 10;
    if (job.resolutionX != 0 || job.resolutionY != 0) {
        p.hasResolution = true;
        p.dpiX = job.resolutionX;
        p.dpiY = job.resolutionY;
    }
    if (isLZWFormat(f))
        p.tiffCompression = 5;
    // WebP is lossy below quality 1 and lossless at it.
    if (isLossyFormat(f) || f == 24) {
        p.hasQuality = true;
        p.quality = job.quality;
    }
    return p;
}

std::optional<EncoderProperties> CompressionProperties(const ImageConversionJob& job) {
    const std::int32_t f = job.outputFormat;
    if (!isLZWFormat(f) && !isLossyFormat(f))
        return std::nullopt;
    EncoderProperties p;
    if (isLZWFormat(f))
        p.tiffCompression = 5;
    if (isLossyFormat(f)) {
        p.hasQuality = true;
        p.quality = job.quality;
    }
    return p;
}

bool EncodeImageData(ImageConversionJob& job, const Bitmap& image, std::vector<std::uint8_t>& out) {
    return encodeBitmap(image, job.outputFormat, ImageDestinationProperties(job), out,
                        job.lastError);
}

bool ImageFromData(ImageConversionJob& job, const std::vector<std::uint8_t>& data, Bitmap& out) {
    std::vector<Bitmap> pictures;
    if (!decodeImageBytes(data.data(), data.size(), "", pictures, job.lastError) ||
        pictures.empty())
        return false;
    out = std::move(pictures.front());
    return true;
}

bool EncodeJobImageToData(ImageConversionJob& job, std::vector<std::uint8_t>& out) {
    if (!job.inputImage || job.inputImage->representations.empty())
        return !out.empty();
    Bitmap& bitmap = job.inputImage->representations.front();
    if (!job.inputImageRep)
        job.inputImageRep = &bitmap;
    if (job.keepSourceResolution) {
        job.resolutionX = float(job.GetImageHorizontalResolution());
        job.resolutionY = float(job.GetImageVerticalResolution());
    }
    if (job.keepSourceResolution && FormatIsBitmapFileType(job.outputFormat)) {
        EncoderProperties p = CompressionProperties(job).value_or(EncoderProperties());
        p.hasResolution = true;
        p.dpiX = job.resolutionX;
        p.dpiY = job.resolutionY;
        p.hasAlpha = FormatSupportsAlpha(job.outputFormat);
        std::vector<std::uint8_t> bytes;
        if (!encodeBitmap(bitmap, job.outputFormat, p, bytes, job.lastError))
            return false;
        out.swap(bytes);
        return true;
    }
    std::vector<std::uint8_t> bytes;
    if (EncodeImageData(job, bitmap, bytes)) {
        out.swap(bytes);
        return true;
    }
    return !out.empty();
}

} // namespace conversion
