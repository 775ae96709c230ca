// PNG through libpng: 8-bit grey, grey with alpha, RGB and RGBA; 16-bit files give their high
// bytes and keep their 16-bit samples beside them, palettes and low bit depths are expanded.
// Resolution travels as pHYs, ICC as iCCP.
#pragma once

#include "Bitmap.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace conversion {

bool decodePNGBitmap(const std::uint8_t* bytes, std::size_t length, Bitmap& out,
                     std::string& error);
// PNG encoding fed bands of rows, into a file or into memory; rows in the layout's model, CMYK
// turned into RGB and alpha dropped (onto white) unless kept, as encodePNGBitmap does.
class PNGRowWriter {
public:
    PNGRowWriter();
    ~PNGRowWriter();
    PNGRowWriter(const PNGRowWriter&) = delete;
    PNGRowWriter& operator=(const PNGRowWriter&) = delete;
    bool begin(const Bitmap& layout, bool keepAlpha, double dpiX, double dpiY, FILE* file,
               std::string& error);
    bool write(const std::uint8_t* rows, std::int64_t count, std::string& error);
    // Before begin(): the file takes 16 bits a sample, and its rows come through writeDeep()
    // in the layout's own model and alpha (nothing is converted).
    void useSixteenBits();
    bool writeDeep(const std::uint16_t* rows, std::int64_t count, std::string& error);
    bool finish(std::vector<std::uint8_t>* out, std::string& error);

    struct State;

private:
    std::unique_ptr<State> m;
};

// CMYK is turned into RGB first; dpi is written when both are finite and above 0. A grey or RGB
// picture with 16-bit samples at hand (and alpha kept, or none) is written with 16 bits.
bool encodePNGBitmap(const Bitmap& bitmap, bool keepAlpha, double dpiX, double dpiY,
                     std::vector<std::uint8_t>& out, std::string& error);

} // namespace conversion
