#include "ImageFileReaders.h"

#include <cstdlib>
#include <cstring>

void InitImageMetadata(ImageMetadata* metadata) {
    if (metadata)
        *metadata = ImageMetadata{};
}

void FreeMetadataBuffer(MetadataBuffer* buffer) {
    if (!buffer)
        return;
    std::free(buffer->bytes);
    buffer->bytes = nullptr;
    buffer->size = 0;
}

void FreeImageMetadata(ImageMetadata* metadata) {
    if (!metadata)
        return;
    FreeMetadataBuffer(&metadata->exif);
    FreeMetadataBuffer(&metadata->iccp);
    FreeMetadataBuffer(&metadata->xmp);
}

int CopyMetadataBuffer(const std::uint8_t* data, std::size_t size, MetadataBuffer* buffer) {
    if (!data || size == 0 || !buffer)
        return 0;
    auto* copy = static_cast<std::uint8_t*>(std::malloc(size));
    if (!copy)
        return 0;
    std::memcpy(copy, data, size);
    std::free(buffer->bytes);
    buffer->bytes = copy;
    buffer->size = size;
    return 1;
}
