#include "WebPEncoder.h"
#include "ConversionLog.h"
#include "InputFile.h"

#include "OutputFile.h"

#include "PictureSizeCheck.h"
#include <cerrno>

#include <cstdint>
#include <cstring>
#include <string>

namespace {

const std::size_t kRIFFHeaderBytes = 12;                  // "RIFF", size, "WEBP"
const std::size_t kChunkHeaderBytes = 8;                  // four-character tag, size
const std::size_t kVP8XChunkBytes = 8 + 10;               // header and payload
const std::uint32_t kRIFFSizeLimit = 0xFFFFFFFFu - 8 - 1; // leave room for a pad byte
const std::uint32_t kVP8XAlphaFlag = 0x10;

// Raw YUV 4:2:0 planes of the picture's preset size, read in that order.
int ReadRawYUV(FILE* file, WebPPicture* picture) {
    std::size_t bytes = 0;
    if (!checkReadablePictureSize(picture->width, picture->height, 2, &bytes))
        return 0;
    const int useARGB = picture->use_argb;
    picture->use_argb = 0;
    if (!WebPPictureAlloc(picture))
        return 0;
    const int width = picture->width;
    const int height = picture->height;
    const int uvWidth = (width + 1) / 2;
    const int uvHeight = (height + 1) / 2;
    for (int y = 0; y < height; ++y)
        if (std::fread(picture->y + std::size_t(y) * picture->y_stride, std::size_t(width), 1,
                       file) != 1)
            return 0;
    for (std::uint8_t* plane : {picture->u, picture->v})
        for (int y = 0; y < uvHeight; ++y)
            if (std::fread(plane + std::size_t(y) * picture->uv_stride, std::size_t(uvWidth), 1,
                           file) != 1)
                return 0;
    if (useARGB)
        return WebPPictureYUVAToARGB(picture);
    return 1;
}

} // namespace

int WriteLittleEndian(FILE* output, std::uint32_t value, int byteCount) {
    std::uint8_t bytes[4];
    if (byteCount < 1 || byteCount > 4)
        return 0;
    for (int i = 0; i < byteCount; ++i)
        bytes[i] = std::uint8_t(value >> (8 * i));
    return std::fwrite(bytes, std::size_t(byteCount), 1, output) == 1;
}

int WriteMetadataChunk(FILE* output, const char fourcc[4], const MetadataBuffer* payload) {
    static const std::uint8_t zero = 0;
    const std::size_t size = payload->size;
    if (size > kRIFFSizeLimit)
        return 0;
    return std::fwrite(fourcc, 4, 1, output) == 1 &&
           WriteLittleEndian(output, std::uint32_t(size), 4) &&
           std::fwrite(payload->bytes, size, 1, output) == 1 &&
           ((size & 1) == 0 || std::fwrite(&zero, 1, 1, output) == 1);
}

int WriteWebPFileWithMetadata(FILE* output, const WebPPicture* picture,
                              const WebPMemoryWriter* encoded, const ImageMetadata* metadata,
                              std::uint32_t keepMetadata, std::uint32_t* metadataWritten) {
    struct Chunk {
        const char* fourcc;
        std::uint32_t keepBit;
        std::uint32_t vp8xFlag;
        const MetadataBuffer* buffer;
        bool write;
    };
    Chunk exif{"EXIF", kWebPMetadataEXIF, 0x08, metadata ? &metadata->exif : nullptr, false};
    Chunk iccp{"ICCP", kWebPMetadataICC, 0x20, metadata ? &metadata->iccp : nullptr, false};
    Chunk xmp{"XMP ", kWebPMetadataXMP, 0x04, metadata ? &metadata->xmp : nullptr, false};

    if (metadataWritten)
        *metadataWritten = 0;
    if (!output || !picture || !encoded || !encoded->mem)
        return 0;
    const std::uint8_t* const file = encoded->mem;
    const std::size_t size = encoded->size;
    std::uint32_t flags = 0;
    std::uint64_t metadataSize = 0;
    for (Chunk* chunk : {&exif, &iccp, &xmp}) {
        chunk->write = (keepMetadata & chunk->keepBit) && chunk->buffer && chunk->buffer->bytes &&
                       chunk->buffer->size > 0;
        if (chunk->write) {
            flags |= chunk->vp8xFlag;
            metadataSize += kChunkHeaderBytes + chunk->buffer->size + (chunk->buffer->size & 1);
        }
    }
    if (size < kRIFFHeaderBytes + kChunkHeaderBytes || std::memcmp(file, "RIFF", 4) != 0 ||
        std::memcmp(file + 8, "WEBP", 4) != 0)
        return 0;
    if (metadataSize == 0)
        return std::fwrite(file, size, 1, output) == 1;

    const bool hasVP8X = std::memcmp(file + 12, "VP8X", 4) == 0;
    // The bytes read below lie beyond the first chunk's header: require them to be there.
    if (hasVP8X && size < kRIFFHeaderBytes + kVP8XChunkBytes)
        return 0;
    const std::uint64_t riffSize =
        std::uint64_t(size) - 8 + (hasVP8X ? 0 : kVP8XChunkBytes) + metadataSize;
    if (riffSize > kRIFFSizeLimit) {
        ConversionLogf("Error! Addition of metadata would exceed container size limit.\n");
        return 0;
    }
    if (!hasVP8X && std::memcmp(file + 12, "VP8L", 4) == 0) {
        // The lossless header: signature byte 0x2F at 20, then 14 + 14 bits of size and the
        // alpha-is-used bit, bit 4 of the byte at 24.
        if (size < 25)
            return 0;
        if (file[24] & 0x10)
            flags |= kVP8XAlphaFlag;
    }

    bool ok = std::fwrite("RIFF", 4, 1, output) == 1 &&
              WriteLittleEndian(output, std::uint32_t(riffSize), 4) &&
              std::fwrite("WEBP", 4, 1, output) == 1;
    std::size_t imageOffset = kRIFFHeaderBytes;
    if (hasVP8X) {
        std::uint8_t vp8x[kVP8XChunkBytes];
        std::memcpy(vp8x, file + kRIFFHeaderBytes, sizeof vp8x);
        vp8x[8] |= std::uint8_t(flags);
        ok = ok && std::fwrite(vp8x, sizeof vp8x, 1, output) == 1;
        imageOffset += kVP8XChunkBytes;
    } else {
        ok = ok && std::fwrite("VP8X", 4, 1, output) == 1 && WriteLittleEndian(output, 10, 4) &&
             WriteLittleEndian(output, flags, 4) &&
             WriteLittleEndian(output, std::uint32_t(picture->width - 1), 3) &&
             WriteLittleEndian(output, std::uint32_t(picture->height - 1), 3);
    }
    std::uint32_t written = 0;
    if (iccp.write) {
        ok = ok && WriteMetadataChunk(output, iccp.fourcc, iccp.buffer);
        written |= kWebPMetadataICC;
    }
    ok = ok && std::fwrite(file + imageOffset, size - imageOffset, 1, output) == 1;
    if (exif.write) {
        ok = ok && WriteMetadataChunk(output, exif.fourcc, exif.buffer);
        written |= kWebPMetadataEXIF;
    }
    if (xmp.write) {
        ok = ok && WriteMetadataChunk(output, xmp.fourcc, xmp.buffer);
        written |= kWebPMetadataXMP;
    }
    if (metadataWritten)
        *metadataWritten = written;
    return ok;
}

int ReadInputPicture(const char* path, WebPPicture* picture, int keepAlpha,
                     ImageMetadata* metadata) {
    if (!path || !picture)
        return 0;
    FILE* file = std::fopen(path, "rb");
    if (!file) {
        ConversionLogf("Error! Cannot open input file '%s': %s\n", path, std::strerror(errno));
        return 0;
    }
    // A folder opens, and reads as nothing.
    if (const std::string why = conversion::whyUnreadable(path); !why.empty()) {
        ConversionLogf("Error! Cannot open input file '%s': %s\n", path, why.c_str());
        std::fclose(file);
        return 0;
    }
    int ok = 0;
    if (picture->width != 0 && picture->height != 0) {
        ok = ReadRawYUV(file, picture);
    } else {
        std::uint8_t magic[4];
        if (std::fread(magic, 4, 1, file) == 1 && std::fseek(file, 0, SEEK_SET) == 0) {
            const std::uint32_t value = std::uint32_t(magic[0]) << 24 |
                                        std::uint32_t(magic[1]) << 16 |
                                        std::uint32_t(magic[2]) << 8 | magic[3];
            if (value == 0x89504E47u)
                ok = ReadPNGPicture(file, picture, keepAlpha, metadata);
            else if ((value >> 8) == 0xFFD8FFu)
                ok = ReadJPEGPicture(file, picture, metadata);
            else if (value == 0x49492A00u || value == 0x4D4D002Au)
                ok = ReadTIFFPicture(path, picture, keepAlpha, metadata);
        }
    }
    if (!ok)
        ConversionLogf("Error! Could not process file %s\n", path);
    std::fclose(file);
    return ok;
}

int EncodeImageFileToWebP(const char* inputPath, const char* outputPath, WebPConfig* config,
                          std::uint32_t keepMetadata) {
    ImageMetadata metadata;
    InitImageMetadata(&metadata);
    WebPMemoryWriter writer;
    WebPMemoryWriterInit(&writer);
    WebPPicture picture;
    int result = kWebPEncodeOK;
    if (!WebPPictureInit(&picture))
        return kWebPEncodePictureInitFailed;
    if (!config || !WebPValidateConfig(config))
        return kWebPEncodeInvalidConfig;
    // Lossless output is read into RGB samples: YUV would have lost colour detail already.
    picture.use_argb = config->lossless ? 1 : 0;
    if (!ReadInputPicture(inputPath, &picture, 1, &metadata)) {
        WebPPictureFree(&picture);
        return kWebPEncodeReadFailed;
    }

    // The whole file is built in memory and written only once encoding has succeeded, through a
    // temporary file renamed over the target: a failure leaves an existing file untouched.
    picture.writer = WebPMemoryWrite;
    picture.custom_ptr = &writer;
    if (!WebPEncode(config, &picture)) {
        result = kWebPEncodeFailed;
    } else if (outputPath) {
        conversion::OutputFile output;
        FILE* file = output.open(outputPath);
        if (!file) {
            result = kWebPEncodeOpenOutputFailed;
        } else {
            std::uint32_t written = 0;
            if (!WriteWebPFileWithMetadata(file, &picture, &writer, &metadata, keepMetadata,
                                           &written) ||
                !output.commit())
                result = kWebPEncodeWriteFailed;
        }
    }
    // The caller learns the cause of a failed write from errno.
    const int cause = errno;
    WebPMemoryWriterClear(&writer);
    FreeImageMetadata(&metadata);
    WebPPictureFree(&picture);
    errno = cause;
    return result;
}
