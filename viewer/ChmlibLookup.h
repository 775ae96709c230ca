// chmlib's own name lookup, done over a directory the reader has already checked, so that the
// container checks look at exactly the objects chmlib will read.
//
// chmlib finds a name by starting at the root chunk (the first listing chunk when the header
// names no root), following index chunks by case-insensitive comparison and taking the first
// listing entry that compares equal. Names are compared as C strings, so a NUL inside a stored
// name ends it. This class repeats that walk step for step, with the same comparison function,
// before chmlib ever sees the file: chmlib derives divisors and buffer sizes from what it finds
// while it opens a file, so its findings have to be checked first.
//
// Works on the directory bytes alone; no state beyond what the constructor is given.
#pragma once

#include "CHMContainerLayout.h"
#include "CHMDirectoryWalk.h"

#include <optional>

class ChmlibLookup {
public:
    ChmlibLookup(const QByteArray& directory, const CHMDirectoryWalk::Geometry& geometry,
                 qint32 firstListing);

    // The entry chmlib's lookup answers for `name`, or nullopt where chmlib finds nothing.
    std::optional<CHMObjectEntry> resolve(const QByteArray& name) const;

private:
    QByteArray m_directory;
    CHMDirectoryWalk::Geometry m_geometry;
    qint32 m_firstListing;
};
