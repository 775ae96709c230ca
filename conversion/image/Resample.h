// Reducing a picture to a smaller size with a separable tent filter as wide as the reduction
// (every source pixel counts), in fixed point so that the result does not depend on how the
// output rows are shared among threads.
#pragma once

#include "Bitmap.h"

#include <cstdint>
#include <string>

namespace conversion {

// `source` (any model, no alpha) at width x height, each no larger than the source's. The output
// rows are split among `workers` threads (0: as many as the cores allow); the bytes are the same
// for every count. False with a message when the sizes are unusable or memory runs out.
bool reduceBitmap(const Bitmap& source, std::int64_t width, std::int64_t height, unsigned workers,
                  Bitmap& out, std::string* error);

} // namespace conversion
