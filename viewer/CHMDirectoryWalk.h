// Walks every chunk of a container's directory, not only the chain the header names, and
// checks each field on the way. Chunks are visited once each, in chunk order.
#pragma once

#include "CHMContainerLayout.h"

class CHMDirectoryWalk {
public:
    struct Geometry {
        quint64 chunksStart = 0; // offset of chunk 0 inside `directory`
        quint32 chunkSize = 0;
        quint32 chunkCount = 0;
        qint32 indexRoot = -1;
    };

    // Fills `out` with the objects of every listing chunk. False with `reason` set when a chunk is
    // damaged in a way chmlib would trip over, or when chmlib's lookup could not tell two listed
    // names apart (a name listed twice, names differing only in case, a NUL inside a name).
    static bool run(const QByteArray& directory, const Geometry& geometry,
                    std::vector<CHMObjectEntry>* out, QString* reason);
};
