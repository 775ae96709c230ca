// Stands in for JPXImageStream.cpp while the JPEG 2000 memory codec is not in the tree: JPEG 2000
// image streams are skipped like any image that does not decode.
#include "ImageStreamCodecs.h"

bool DecodeJPXImageData(const std::vector<std::uint8_t>&, std::int64_t, std::int64_t,
                        std::vector<std::uint8_t>&, int&, int&, std::vector<std::uint8_t>&) {
    return false;
}
