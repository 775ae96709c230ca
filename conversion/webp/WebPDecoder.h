// Reading WebP images: to an uncompressed TIFF file (the image job's route for WebP inputs), to
// RGBA pixels, or to one of eight output forms. Result codes: 0, -233 (the decoder cannot be
// set up), -234 (not a WebP image, or truncated); writers answer 1 written, 0 failed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <webp/decode.h>

enum : int {
    kWebPDecodeOK = 0,
    kWebPDecodeConfigFailed = -233,
    kWebPDecodeBadHeaders = -234,
};

enum DecodedImageFormat : int {
    kDecodedPNG = 0,
    kDecodedPAM = 1,
    kDecodedPPM = 2,
    kDecodedPGM = 3,
    kDecodedBMP = 4,
    kDecodedTIFF = 5,
    kDecodedRawYUV = 6,
    kDecodedAlphaPlanePGM = 7,
};

// outputPath may be null: decode only.
int DecodeWebPToTIFFFile(const std::uint8_t* data, std::size_t size, WebPDecoderConfig* config,
                         const char* outputPath);
int DecodeWebPToRGBA(const std::uint8_t* data, std::size_t size, WebPDecoderConfig* config);
int GetWebPDimensions(const std::uint8_t* data, std::size_t size, int* width, int* height);
// path "-" writes to standard output.
int SaveDecodedImage(const WebPDecBuffer* buffer, DecodedImageFormat format, const char* path);
int WritePNGFile(FILE* output, const WebPDecBuffer* buffer);
int WritePortablePixmap(FILE* output, const WebPDecBuffer* buffer, int withAlpha);
int ReadFileToMemory(const char* path, const std::uint8_t** data, std::size_t* size);
int WriteMemoryToFile(const char* path, const std::uint8_t* data, std::size_t size);

// The command-line decoder ("convtool webp-decode ARGS...").
int DecoderToolMain(int argc, char** argv);
