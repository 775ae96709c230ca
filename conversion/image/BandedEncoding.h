// Encoders that take bands of rows (JPEGRowWriter, PNGRowWriter) are fed a whole picture the same
// way: a band at a time, so that a flattened, inverted or converted copy of the rows is never the
// whole picture.
#pragma once

#include "Bitmap.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace conversion {

// Writes every row of `input` to a begun writer and finishes it into `out`.
template <typename RowWriter>
bool encodeInBands(RowWriter& writer, const Bitmap& input, std::vector<std::uint8_t>& out,
                   std::string& error) {
    constexpr std::int64_t kBand = 64;
    for (std::int64_t y = 0; y < input.height; y += kBand)
        if (!writer.write(input.row(y), std::min(kBand, input.height - y), error))
            return false;
    return writer.finish(&out, error);
}

} // namespace conversion
