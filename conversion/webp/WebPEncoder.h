// The way from an image file on disk to a WebP file: read (PNG, JPEG or TIFF, chosen by the
// file's first bytes), encode with the caller's configuration, write RIFF/WebP with the kept
// metadata as chunks. Result codes are negative; messages go through ConversionLog.
#pragma once

#include "ImageFileReaders.h"

#include <cstdint>
#include <cstdio>
#include <webp/encode.h>

// Metadata flags, for what to keep and for what was written.
enum : std::uint32_t {
    kWebPMetadataEXIF = 1,
    kWebPMetadataICC = 2,
    kWebPMetadataXMP = 4,
};

enum : int {
    kWebPEncodeOK = 0,
    kWebPEncodePictureInitFailed = -301,
    kWebPEncodeInvalidConfig = -302,
    kWebPEncodeReadFailed = -303,
    kWebPEncodeOpenOutputFailed = -304,
    kWebPEncodeFailed = -305,
    kWebPEncodeWriteFailed = -306,
};

// outputPath may be null: encode only.
int EncodeImageFileToWebP(const char* inputPath, const char* outputPath, WebPConfig* config,
                          std::uint32_t keepMetadata);
int ReadInputPicture(const char* path, WebPPicture* picture, int keepAlpha,
                     ImageMetadata* metadata);
int WriteWebPFileWithMetadata(FILE* output, const WebPPicture* picture,
                              const WebPMemoryWriter* encoded, const ImageMetadata* metadata,
                              std::uint32_t keepMetadata, std::uint32_t* metadataWritten);
int WriteMetadataChunk(FILE* output, const char fourcc[4], const MetadataBuffer* payload);
int WriteLittleEndian(FILE* output, std::uint32_t value, int byteCount);
