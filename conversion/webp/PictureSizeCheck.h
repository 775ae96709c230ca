// The one size test every reader applies before it decodes a pixel: each side within what
// libwebp can encode, and the reader's buffer within the conversion library's allocation cap.
#pragma once

#include <cstddef>
#include <cstdint>

// Answers 1 with `bytes` = width x height x bytesPerPixel when the picture may be read; else
// logs one line naming the size (ConversionLog) and answers 0.
int checkReadablePictureSize(std::int64_t width, std::int64_t height, int bytesPerPixel,
                             std::size_t* bytes);
