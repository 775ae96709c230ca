// Reading WebP images: to an uncompressed TIFF file (the image job's route for WebP inputs), to
// RGBA pixels, or to one of eight output forms. Result codes: 0 done, -233 (the decoder cannot
// be set up), -234 (not a WebP image, or truncated headers), -235 (the image data cannot be
// decoded), -236 (the output cannot be written; no partial file is left). Writers answer
// 1 written, 0 failed; a failed writer leaves an existing file at the path as it was.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <webp/decode.h>

enum : int {
    kWebPDecodeOK = 0,
    kWebPDecodeConfigFailed = -233,
    kWebPDecodeBadHeaders = -234,
    kWebPDecodeFailed = -235,
    kWebPDecodeWriteFailed = -236,
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

// outputPath may be null: decode only. The decoded buffer is freed before returning. Without
// `announce` the file is written without the "Saved file" line (a file the user never sees).
int DecodeWebPToTIFFFile(const std::uint8_t* data, std::size_t size, WebPDecoderConfig* config,
                         const char* outputPath, bool announce = true);
// On 0 the pixels are in config->output, which the caller frees with WebPFreeDecBuffer.
int DecodeWebPToRGBA(const std::uint8_t* data, std::size_t size, WebPDecoderConfig* config);
int GetWebPDimensions(const std::uint8_t* data, std::size_t size, int* width, int* height);
// path "-" writes to standard output. The buffer's colour mode must be one the format takes
// (see decodedColorMode); any other is refused rather than misread. `announce` prints the
// "Saved file" line (failures are always reported).
int SaveDecodedImage(const WebPDecBuffer* buffer, DecodedImageFormat format, const char* path,
                     bool announce = true);
// The colour mode the decoder must deliver for `format`.
WEBP_CSP_MODE decodedColorMode(DecodedImageFormat format, int hasAlpha);
int WritePNGFile(FILE* output, const WebPDecBuffer* buffer);
int WritePortablePixmap(FILE* output, const WebPDecBuffer* buffer, int withAlpha);
// The caller frees *data with free().
int ReadFileToMemory(const char* path, const std::uint8_t** data, std::size_t* size);
int WriteMemoryToFile(const char* path, const std::uint8_t* data, std::size_t size);
