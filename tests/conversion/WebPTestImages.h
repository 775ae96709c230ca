// Inputs written, and outputs read back, with libpng, libjpeg, libtiff and libwebp themselves.
#pragma once

#include "ImageFileReaders.h"
#include "TestFiles.h"

#include <cstdint>
#include <string>
#include <vector>

namespace webptest {

using namespace testfiles;

// A path in this program's scratch folder.
std::string scratchPath(const std::string& name);

// Pixels that differ from each other, for exact comparisons.
Bytes patternPixels(int width, int height, int channels, int seed = 0);

// An RGB display profile of `size` bytes (at least 132) whose header passes libpng's checks; the
// bytes after the empty tag table vary with `seed`.
Bytes iccProfile(std::size_t size, int seed = 0);

struct PNGText {
    std::string keyword;
    std::string text;
    bool international = false; // iTXt instead of tEXt
};
struct PNGOptions {
    int colorType = 2; // PNG_COLOR_TYPE_RGB
    int bitDepth = 8;
    bool interlaced = false;
    std::vector<std::uint8_t> paletteRGB;   // 3 bytes per entry
    std::vector<std::uint8_t> transparency; // tRNS of a palette
    std::vector<PNGText> texts;             // before the image data
    std::vector<PNGText> textsAfterImage;   // after it
    Bytes iccProfile;
};
// `rows`: height rows of packed samples as PNG stores them (big-endian 16-bit samples).
void writePNG(const std::string& path, int width, int height, const PNGOptions& options,
              const Bytes& rows);

struct JPEGMarker {
    int marker; // 0xE1, 0xE2, ...
    Bytes data;
};
// components 3 (RGB) or 4 (CMYK, written as Adobe CMYK).
void writeJPEG(const std::string& path, int width, int height, int components, const Bytes& pixels,
               const std::vector<JPEGMarker>& markers, int quality = 95);
// The APP2 segments that carry `profile` in `count` pieces, in the given order of sequence
// numbers (1-based); a piece number can be left out or repeated.
std::vector<JPEGMarker> iccMarkers(const Bytes& profile, int count, const std::vector<int>& order);
JPEGMarker exifMarker(const Bytes& tiffPayload);

struct TIFFPage {
    int width;
    int height;
    Bytes rgb;
};
struct TIFFOptions {
    bool bigEndian = false;
    bool exifDirectory = false;
    Bytes iccProfile;
    std::string xmp;
};
void writeTIFF(const std::string& path, const std::vector<TIFFPage>& pages,
               const TIFFOptions& options);

// A WebP file of RGBA pixels, lossless or lossy (quality 90).
Bytes encodeWebP(const Bytes& rgba, int width, int height, bool lossless, bool withAlpha);

// 8-bit RGBA of a TIFF read back with libtiff's RGBA reader.
bool readTIFFAsRGBA(const std::string& path, int* width, int* height, Bytes* rgba);

// A picture's ARGB pixels as R, G, B, A bytes.
Bytes pictureRGBA(const WebPPicture& picture);

std::string metadataString(const MetadataBuffer& buffer);

// The chunks of a RIFF/WebP file in order, each checked to lie inside the file; empty when the
// RIFF structure is broken (bad size, chunk past the end, missing pad byte).
struct Chunk {
    std::string fourcc;
    std::size_t offset; // of its header
    Bytes payload;
};
std::vector<Chunk> riffChunks(const Bytes& file);

} // namespace webptest
