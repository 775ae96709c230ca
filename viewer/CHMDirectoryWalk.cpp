#include "CHMDirectoryWalk.h"

#include "ByteReader.h"
#include "CHMDirectoryChunk.h"

#include <QHash>
#include <QSet>
#include <cctype>
#include <chm_lib.h>
#include <vector>

namespace {

using CHMDirectoryChunk::entriesEnd;
using CHMDirectoryChunk::kIndexHeader;
using CHMDirectoryChunk::kListingHeader;

bool fail(QString* reason, const QString& text) {
    if (reason)
        *reason = text;
    return false;
}

bool validChunkNumber(qint32 n, quint32 count) {
    return n == -1 || (n >= 0 && static_cast<quint32>(n) < count);
}

bool readName(const ByteReader& r, quint64* at, quint64 end, QByteArray* name) {
    quint64 length = 0;
    if (!r.encint(at, end, &length) || length == 0 || length > CHM_MAX_PATHLEN ||
        length > end - *at)
        return false;
    *name = r.mid(*at, length);
    *at += length;
    return true;
}

// chmlib follows index chunks down from the root without remembering where it has been, so a
// cycle among them would hang it. Depth-first search with colours, iterative.
bool hasIndexCycle(const QHash<quint32, std::vector<quint32>>& children) {
    QHash<quint32, int> state; // 1 on the current path, 2 finished
    for (auto it = children.cbegin(); it != children.cend(); ++it) {
        if (state.value(it.key()) == 2)
            continue;
        std::vector<std::pair<quint32, size_t>> stack{{it.key(), 0}};
        state[it.key()] = 1;
        while (!stack.empty()) {
            auto& [node, next] = stack.back();
            const auto found = children.constFind(node);
            if (found == children.cend() || next >= found->size()) {
                state[node] = 2;
                stack.pop_back();
                continue;
            }
            const quint32 child = (*found)[next++];
            const int s = state.value(child);
            if (s == 1)
                return true;
            if (s == 0) {
                state[child] = 1;
                stack.emplace_back(child, 0);
            }
        }
    }
    return false;
}

// The name as chmlib's case-insensitive comparison sees it: two names with the same key are the
// same object to chmlib, whichever of them it meets first.
QByteArray lookupKey(const QByteArray& name) {
    QByteArray key = name;
    for (char& c : key)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return key;
}

} // namespace

bool CHMDirectoryWalk::run(const QByteArray& directory, const Geometry& g,
                           std::vector<CHMObjectEntry>* out, QString* reason) {
    const ByteReader r(directory);
    QSet<QByteArray> seen;                              // lookup keys of the listed names
    QHash<quint32, std::vector<quint32>> indexChildren; // index chunk -> its index-chunk children
    for (quint32 n = 0; n < g.chunkCount; ++n) {
        const quint64 chunk = g.chunksStart + static_cast<quint64>(n) * g.chunkSize;
        if (!r.contains(chunk, g.chunkSize))
            return fail(reason, QStringLiteral("directory chunk %1 is cut off").arg(n));
        quint64 end = 0;
        quint64 at = 0;
        if (r.matches(chunk, "PMGL", 4)) {
            qint32 prev = 0, next = 0;
            r.i32(chunk + 0x0C, &prev);
            r.i32(chunk + 0x10, &next);
            if (!validChunkNumber(prev, g.chunkCount) || !validChunkNumber(next, g.chunkCount) ||
                next == static_cast<qint32>(n) || prev == static_cast<qint32>(n))
                return fail(reason,
                            QStringLiteral("listing chunk %1 links outside the directory").arg(n));
            if (!entriesEnd(r, chunk, kListingHeader, g.chunkSize, &end))
                return fail(reason,
                            QStringLiteral("listing chunk %1 has a bad free-space length").arg(n));
            at = chunk + kListingHeader;
            while (at < end) {
                CHMObjectEntry e;
                if (!readName(r, &at, end, &e.name) || !r.encint(&at, end, &e.section) ||
                    !r.encint(&at, end, &e.offset) || !r.encint(&at, end, &e.length))
                    return fail(reason,
                                QStringLiteral("listing chunk %1 holds a broken entry").arg(n));
                if (e.section > 1)
                    return fail(reason, QStringLiteral("an object names an unknown section"));
                // chmlib stops a name at a NUL and ignores case, so such names could make it
                // read another object than the one the checks looked at.
                if (e.name.contains('\0'))
                    return fail(reason, QStringLiteral("an object name holds a NUL byte"));
                const QByteArray key = lookupKey(e.name);
                if (seen.contains(key))
                    return fail(reason,
                                QStringLiteral("two objects have names that differ only in case "
                                               "or are listed twice"));
                seen.insert(key);
                out->push_back(std::move(e));
            }
        } else if (r.matches(chunk, "PMGI", 4)) {
            if (!entriesEnd(r, chunk, kIndexHeader, g.chunkSize, &end))
                return fail(reason,
                            QStringLiteral("index chunk %1 has a bad free-space length").arg(n));
            at = chunk + kIndexHeader;
            while (at < end) {
                QByteArray name;
                quint64 child = 0;
                if (!readName(r, &at, end, &name) || !r.encint(&at, end, &child))
                    return fail(reason,
                                QStringLiteral("index chunk %1 holds a broken entry").arg(n));
                // An index entry pointing at itself or an earlier-or-equal index level makes
                // chmlib's lookup loop forever; children must be other, existing chunks.
                if (child >= g.chunkCount || child == n)
                    return fail(
                        reason,
                        QStringLiteral("index chunk %1 points outside the directory").arg(n));
                if (r.matches(g.chunksStart + child * g.chunkSize, "PMGI", 4))
                    indexChildren[n].push_back(static_cast<quint32>(child));
            }
        }
    }
    if (hasIndexCycle(indexChildren))
        return fail(reason, QStringLiteral("the directory index has a cycle"));
    return true;
}
