// JPEG 2000 image streams through the image job's memory codec.
#include "ImageStreamCodecs.h"

#include "JPEG2000Codec.h"

bool decodeJPXImageData(const std::vector<std::uint8_t>& data, std::int64_t width,
                        std::int64_t height, std::vector<std::uint8_t>& pixels, int& colorCode,
                        int& components, std::vector<std::uint8_t>& iccProfile) {
    std::uint32_t w = 0, h = 0;
    int code = colorCode, count = 0;
    std::vector<std::uint8_t> out, profile;
    if (CreatePixelDataFromJPEG2000(data, &out, &code, &count, &profile, &w, &h) != 0)
        return false;
    if (std::int64_t(w) != width || std::int64_t(h) != height || count < 1 ||
        out.size() != std::size_t(w) * h * std::size_t(count))
        return false;
    pixels = std::move(out);
    colorCode = code;
    components = count;
    iccProfile = std::move(profile);
    return true;
}
