#include "PictureSizeCheck.h"
#include "ConversionLog.h"

#include "PixelLimits.h"

#include <cstdio>
#include <string>
#include <webp/encode.h>

int checkReadablePictureSize(std::int64_t width, std::int64_t height, int bytesPerPixel,
                             std::size_t* bytes) {
    if (width > WEBP_MAX_DIMENSION || height > WEBP_MAX_DIMENSION) {
        ConversionLogf("Error! Picture of %lld x %lld pixels is larger than the %d x %d pixels a "
                       "WebP image can hold.\n",
                       static_cast<long long>(width), static_cast<long long>(height),
                       WEBP_MAX_DIMENSION, WEBP_MAX_DIMENSION);
        return 0;
    }
    std::string message;
    if (!conversion::checkedPictureBytes(width, height, bytesPerPixel, bytes, &message)) {
        ConversionLogf("Error! The %s.\n", message.c_str());
        return 0;
    }
    return 1;
}
