// Build-only stand-in for the image layer's format table (see ImageConversionJob.h beside it).
#pragma once

#include <cstdint>

namespace conversion {

inline bool IsKnownFormatCode(std::int32_t code) {
    return code >= 0 && code <= 24;
}

} // namespace conversion
