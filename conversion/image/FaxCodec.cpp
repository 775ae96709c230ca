#include "FaxCodec.h"

#include "ImageStreamCodecs.h"
#include "PixelLimits.h"

#include <algorithm>
#include <cctype>

namespace conversion {

bool isRawFaxExtension(const std::string& extension) {
    std::string ext = extension;
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    return ext == "g3" || ext == "fax";
}

std::int64_t CountFaxRows(const std::uint8_t* bytes, std::size_t length) {
    // An end-of-line code is eleven or more zero bits (fill included) and a one. Every row's
    // code holds a one before the next such run; the page's closing codes hold none.
    std::int64_t rows = 0;
    int zeros = 0;
    bool rowHasCode = false;
    for (std::size_t i = 0; i < length; ++i) {
        for (int bit = 7; bit >= 0; --bit) {
            if (((bytes[i] >> bit) & 1) == 0) {
                ++zeros;
                continue;
            }
            if (zeros >= 11) {
                if (rowHasCode)
                    ++rows;
                rowHasCode = false;
            } else {
                rowHasCode = true;
            }
            zeros = 0;
        }
    }
    return rows + (rowHasCode ? 1 : 0);
}

bool decodeRawFaxBitmap(const std::uint8_t* bytes, std::size_t length, Bitmap& out,
                        std::string& error) {
    const std::int64_t rows = bytes ? CountFaxRows(bytes, length) : 0;
    if (rows <= 0) {
        error = "the fax data codes no row";
        return false;
    }
    const std::vector<std::uint8_t> data(bytes, bytes + length);
    for (const std::int64_t width : {1728, 2048, 2432}) {
        if (!checkedPictureBytes(width, rows, 1, nullptr, &error))
            return false;
        std::vector<std::uint8_t> packed;
        if (!decodeCCITTImageData(data, QPDFObjectHandle(), width, rows, packed))
            continue;
        if (!out.allocate(width, rows, ColorModel::Gray, false, &error))
            return false;
        const std::size_t rowBytes = std::size_t((width + 7) / 8);
        for (std::int64_t y = 0; y < rows; ++y) {
            const std::uint8_t* from = packed.data() + std::size_t(y) * rowBytes;
            std::uint8_t* to = out.row(y);
            for (std::int64_t x = 0; x < width; ++x)
                to[x] = (from[x / 8] >> (7 - x % 8)) & 1 ? 255 : 0;
        }
        return true;
    }
    error = "the fax data does not decode at any standard page width";
    return false;
}

} // namespace conversion
