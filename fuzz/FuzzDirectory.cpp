#include "FuzzCheck.h"
#include "FuzzTargets.h"

#include "CHMContainerLayout.h"

#include <QByteArray>
#include <QSet>
#include <chm_lib.h>

namespace fuzz {

int fuzzDirectory(const uint8_t* data, size_t size) {
    const QByteArray file =
        QByteArray::fromRawData(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const auto fileSize = static_cast<quint64>(size);
    const auto readAt = [&](quint64 at, quint64 length) -> QByteArray {
        check(at <= fileSize && length <= fileSize - at, "a read reaches past the file's end");
        return file.mid(static_cast<qsizetype>(at), static_cast<qsizetype>(length));
    };
    QString reason;
    const auto layout = CHMContainerLayout::parse(file.left(0x60), fileSize, readAt, &reason);
    if (!layout) {
        check(!reason.isEmpty(), "a refused file gets no reason");
        return 0;
    }
    check(layout->chunkCount() > 0 && layout->chunkSize() > 0, "an accepted directory is empty");
    check(static_cast<quint64>(layout->chunkCount()) * layout->chunkSize() <= fileSize,
          "the accepted chunks do not fit in the file");
    check(layout->contentOffset() <= fileSize, "the content starts past the file's end");
    QSet<QByteArray> names;
    size_t index = 0;
    for (const CHMObjectEntry& e : layout->objects()) {
        check(!e.name.isEmpty() && e.name.size() <= CHM_MAX_PATHLEN, "an object name is bad");
        check(e.section <= 1, "an object names an unknown section");
        check(!names.contains(e.name), "an object is listed twice");
        names.insert(e.name);
        // find() is linear: a few lookups keep a run over many objects fast.
        if (index++ < 64)
            check(layout->find(e.name) == &e, "find() misses the first entry of a name");
    }
    return 0;
}

} // namespace fuzz
