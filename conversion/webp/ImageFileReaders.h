// Readers that load a PNG, JPEG or TIFF file into a libwebp picture for encoding, with the file's
// EXIF, ICC and XMP metadata. Every reader answers 1 on success and 0 on failure (the metadata
// record is then emptied); messages go through ConversionLog.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <webp/encode.h>

// One metadata payload; the record owns `bytes` (null when empty).
struct MetadataBuffer {
    std::uint8_t* bytes = nullptr;
    std::size_t size = 0;
};

// EXIF, ICC profile and XMP, in that order. The caller owns the record; FreeImageMetadata
// releases its buffers.
struct ImageMetadata {
    MetadataBuffer exif;
    MetadataBuffer iccp;
    MetadataBuffer xmp;
};

void InitImageMetadata(ImageMetadata* metadata);
void FreeMetadataBuffer(MetadataBuffer* buffer);
void FreeImageMetadata(ImageMetadata* metadata);
int CopyMetadataBuffer(const std::uint8_t* data, std::size_t size, MetadataBuffer* buffer);

// Decodes the raw-profile text form of a PNG text chunk ("\n<name>\n<decimal length>\n<hex
// digits with line breaks>") into the buffer. Answers 1 when exactly the stated number of bytes
// was decoded from at most `length` characters of text; the stated length must be positive and
// no more than the text's digits can hold.
int DecodeRawProfile(const char* text, std::size_t length, MetadataBuffer* buffer);

// Pictures wider or higher than libwebp can encode (16383) are refused before any pixel is
// decoded, with a message that names the size.
int ReadPNGPicture(FILE* file, WebPPicture* picture, int keepAlpha, ImageMetadata* metadata);
int ReadJPEGPicture(FILE* file, WebPPicture* picture, ImageMetadata* metadata);
int ReadTIFFPicture(const char* path, WebPPicture* picture, int keepAlpha, ImageMetadata* metadata);
