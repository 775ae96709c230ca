// Size checks shared by every job of the conversion library. Sizes come from files and options,
// so they are untrusted: every product is formed in 64 bits and compared with one cap before
// anything is allocated.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace conversion {

// The largest picture any job decodes or draws: 2^28 pixels (16384 x 16384).
inline constexpr std::uint64_t kMaxPixels = std::uint64_t(1) << 28;
// The largest buffer a job allocates for one picture: the cap times 8 bytes a pixel.
inline constexpr std::uint64_t kMaxPictureBytes = kMaxPixels * 8;

// The most pictures (frames, pages, icon sizes) one input file may give a job: far more than real
// animations hold, and few enough that writing a file for each stays reasonable.
inline constexpr std::size_t kMaxPicturesPerFile = 2000;
// What each picture held at once costs beyond its pixels (the decoder's own records and caches),
// counted with the pixels against kMaxPictureBytes.
inline constexpr std::uint64_t kPictureOverheadBytes = 128 * 1024;

// width x height x bytesPerPixel when every factor is positive, width x height is within
// kMaxPixels and the product fits; else false with `message` (when given) set to one line
// that names the size.
bool checkedPictureBytes(std::int64_t width, std::int64_t height, std::int64_t bytesPerPixel,
                         std::size_t* bytes, std::string* message = nullptr);

} // namespace conversion
