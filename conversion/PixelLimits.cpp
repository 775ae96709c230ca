#include "PixelLimits.h"

namespace conversion {

bool checkedPictureBytes(std::int64_t width, std::int64_t height, std::int64_t bytesPerPixel,
                         std::size_t* bytes, std::string* message) {
    auto refuse = [&](const char* why) {
        if (message)
            *message = "picture of " + std::to_string(width) + " x " + std::to_string(height) +
                       " pixels " + why;
        return false;
    };
    if (width <= 0 || height <= 0 || bytesPerPixel <= 0 || bytesPerPixel > 64)
        return refuse("has no valid size");
    // Each side is below 2^28 here, so the product cannot overflow 64 bits.
    if (std::uint64_t(width) > kMaxPixels || std::uint64_t(height) > kMaxPixels ||
        std::uint64_t(width) * std::uint64_t(height) > kMaxPixels)
        return refuse("is larger than the 268,435,456 pixels a job accepts");
    const std::uint64_t total =
        std::uint64_t(width) * std::uint64_t(height) * std::uint64_t(bytesPerPixel);
    if (total > kMaxPictureBytes || total > std::uint64_t(SIZE_MAX))
        return refuse("needs more memory than a job may allocate");
    if (bytes)
        *bytes = std::size_t(total);
    return true;
}

} // namespace conversion
