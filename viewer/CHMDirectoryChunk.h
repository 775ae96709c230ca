// The layout shared by every chunk of the container's directory, as both the check of the whole
// directory and the chmlib-style lookup read it.
#pragma once

#include "ByteReader.h"

namespace CHMDirectoryChunk {

constexpr quint64 kListingHeader = 0x14; // "PMGL", free space, 0, prev, next
constexpr quint64 kIndexHeader = 0x08;   // "PMGI", free space

// Entries run from the header to the start of the free space at the chunk's end.
inline bool entriesEnd(const ByteReader& r, quint64 chunk, quint64 header, quint32 chunkSize,
                       quint64* end) {
    quint32 freeSpace = 0;
    if (!r.u32(chunk + 4, &freeSpace) || freeSpace > chunkSize - header)
        return false;
    *end = chunk + chunkSize - freeSpace;
    return true;
}

} // namespace CHMDirectoryChunk
