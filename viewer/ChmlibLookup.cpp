#include "ChmlibLookup.h"

#include "ByteReader.h"
#include "CHMDirectoryChunk.h"

#include <chm_lib.h>
#include <strings.h>

namespace {

using CHMDirectoryChunk::entriesEnd;
using CHMDirectoryChunk::kIndexHeader;
using CHMDirectoryChunk::kListingHeader;

// The stored name as chmlib copies it: at most CHM_MAX_PATHLEN bytes, ended by its first NUL.
bool nextName(const ByteReader& r, quint64* at, quint64 end, QByteArray* name) {
    quint64 length = 0;
    if (!r.encint(at, end, &length) || length > CHM_MAX_PATHLEN || length > end - *at)
        return false;
    QByteArray raw = r.mid(*at, length);
    const qsizetype nul = raw.indexOf('\0');
    *name = nul < 0 ? raw : raw.left(nul);
    *at += length;
    return true;
}

} // namespace

ChmlibLookup::ChmlibLookup(const QByteArray& directory, const CHMDirectoryWalk::Geometry& geometry,
                           qint32 firstListing)
    : m_directory(directory), m_geometry(geometry), m_firstListing(firstListing) {}

std::optional<CHMObjectEntry> ChmlibLookup::resolve(const QByteArray& name) const {
    const ByteReader r(m_directory);
    const QByteArray wanted = name.left(name.indexOf('\0') < 0 ? name.size() : name.indexOf('\0'));
    qint64 page = m_geometry.indexRoot <= -1 ? m_firstListing : m_geometry.indexRoot;
    // The checked directory has no index cycle; the bound keeps a mistake from hanging here.
    for (quint32 steps = 0; page != -1 && steps <= m_geometry.chunkCount; ++steps) {
        if (page < 0 || static_cast<quint64>(page) >= m_geometry.chunkCount)
            return std::nullopt;
        const quint64 chunk =
            m_geometry.chunksStart + static_cast<quint64>(page) * m_geometry.chunkSize;
        quint64 end = 0;
        if (r.matches(chunk, "PMGL", 4)) {
            if (!entriesEnd(r, chunk, kListingHeader, m_geometry.chunkSize, &end))
                return std::nullopt;
            quint64 at = chunk + kListingHeader;
            while (at < end) {
                CHMObjectEntry e;
                if (!nextName(r, &at, end, &e.name) || !r.encint(&at, end, &e.section) ||
                    !r.encint(&at, end, &e.offset) || !r.encint(&at, end, &e.length))
                    return std::nullopt;
                if (::strcasecmp(e.name.constData(), wanted.constData()) == 0)
                    return e;
            }
            return std::nullopt;
        }
        if (!r.matches(chunk, "PMGI", 4) ||
            !entriesEnd(r, chunk, kIndexHeader, m_geometry.chunkSize, &end))
            return std::nullopt;
        qint64 next = -1;
        quint64 at = chunk + kIndexHeader;
        while (at < end) {
            QByteArray entryName;
            quint64 child = 0;
            if (!nextName(r, &at, end, &entryName))
                return std::nullopt;
            if (::strcasecmp(entryName.constData(), wanted.constData()) > 0)
                break;
            if (!r.encint(&at, end, &child))
                return std::nullopt;
            next = static_cast<qint32>(static_cast<quint32>(child)); // chmlib keeps an int
        }
        page = next;
    }
    return std::nullopt;
}
