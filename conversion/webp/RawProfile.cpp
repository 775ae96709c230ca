#include "ConversionLog.h"
#include "ImageFileReaders.h"

#include <cstdlib>

namespace {

int hexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

int malformed(char found) {
    ConversionLogf("Malformed raw profile, expected '\\n' got '\\x%.2X'\n",
                   unsigned(static_cast<unsigned char>(found)));
    return 0;
}

} // namespace

int DecodeRawProfile(const char* text, std::size_t length, MetadataBuffer* buffer) {
    if (!text || length == 0 || !buffer)
        return 0;
    // Every step below stays within [text, end): a chunk's text is not trusted to be terminated,
    // nor its stated length to match what follows.
    const char* p = text;
    const char* const end = text + length;
    if (*p != '\n')
        return malformed(*p);
    ++p;
    while (p < end && *p != '\n' && *p != '\0')
        ++p;
    if (p < end && *p == '\n')
        ++p;
    while (p < end && *p == ' ') // the length is right-aligned in a field of blanks
        ++p;
    std::size_t stated = 0;
    const char* digits = p;
    while (p < end && *p >= '0' && *p <= '9') {
        stated = stated * 10 + std::size_t(*p - '0');
        if (stated > length) // more than the text could ever hold; stop before it overflows
            break;
        ++p;
    }
    if (p == digits || p >= end)
        return malformed(p < end ? *p : '\0');
    if (*p != '\n')
        return malformed(*p);
    ++p;
    // Two digits per byte: a length the remaining text cannot hold is refused before allocating.
    if (stated == 0 || stated > std::size_t(end - p) / 2)
        return 0;

    auto* bytes = static_cast<std::uint8_t*>(std::malloc(stated));
    if (!bytes) {
        FreeMetadataBuffer(buffer);
        return 0;
    }
    std::size_t decoded = 0;
    while (decoded < stated && p < end && *p != '\0') {
        if (*p == '\n') {
            ++p;
            continue;
        }
        if (end - p < 2)
            break;
        const int high = hexValue(p[0]);
        const int low = hexValue(p[1]);
        if (high < 0 || low < 0)
            break;
        bytes[decoded++] = std::uint8_t(high << 4 | low);
        p += 2;
    }
    if (decoded < stated) {
        std::free(bytes);
        return 0;
    }
    std::free(buffer->bytes);
    buffer->bytes = bytes;
    buffer->size = stated;
    return 1;
}
