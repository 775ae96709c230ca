#include "CHMContainerLayout.h"

#include "ByteReader.h"
#include "CHMDirectoryWalk.h"

#include <QFile>
#include <QHash>

namespace {

constexpr quint64 kMaxDirectoryLength = 64ull << 20;
constexpr quint32 kMaxChunkSize = 1u << 20;
constexpr quint64 kLzxFrame = 0x8000;
const QByteArray kControlData("::DataSpace/Storage/MSCompressed/ControlData");
const QByteArray kResetTable("::DataSpace/Storage/MSCompressed/Transform/"
                             "{7FC28940-9D31-11D0-9B27-00A0C91E9C7C}/InstanceData/ResetTable");
const QByteArray kContent("::DataSpace/Storage/MSCompressed/Content");

bool fail(QString* reason, const QString& text) {
    if (reason)
        *reason = text;
    return false;
}

bool isPowerOfTwo(quint64 v) {
    return v && !(v & (v - 1));
}

} // namespace

// Internal streams of the LZX section live in section 0; read one whole, bounded by the file.
static QByteArray readSectionZero(const CHMObjectEntry& e, quint64 contentOffset, quint64 fileSize,
                                  quint64 limit,
                                  const std::function<QByteArray(quint64, quint64)>& readAt) {
    if (e.section != 0 || e.length > limit || contentOffset > fileSize ||
        e.offset > fileSize - contentOffset || e.length > fileSize - contentOffset - e.offset)
        return {};
    return readAt(contentOffset + e.offset, e.length);
}

static bool checkCompressedSection(const CHMContainerLayout& layout,
                                   const std::function<QByteArray(quint64, quint64)>& readAt,
                                   quint64* uncompressedLength, QString* reason) {
    const CHMObjectEntry* control = layout.find(kControlData);
    const CHMObjectEntry* reset = layout.find(kResetTable);
    const CHMObjectEntry* content = layout.find(kContent);
    if (!control || !reset || !content) {
        *uncompressedLength = 0; // chmlib then reads no compressed object at all
        return true;
    }
    const quint64 off = layout.contentOffset(), size = layout.fileSize();
    const QByteArray controlBytes = readSectionZero(*control, off, size, 4096, readAt);
    const ByteReader c(controlBytes);
    quint32 version = 0, resetInterval = 0, windowSize = 0, windowsPerReset = 0;
    if (!c.matches(4, "LZXC", 4) || !c.u32(8, &version) || !c.u32(12, &resetInterval) ||
        !c.u32(16, &windowSize) || !c.u32(20, &windowsPerReset))
        return fail(reason, QStringLiteral("the compression control data is missing or cut off"));
    quint64 window = windowSize, interval = resetInterval;
    if (version == 2) {
        window *= kLzxFrame;
        interval *= kLzxFrame;
    } else if (version != 1) {
        return fail(reason, QStringLiteral("the compression control data has an unknown version"));
    }
    if (!isPowerOfTwo(window) || window < (1u << 15) || window > (1u << 21))
        return fail(reason, QStringLiteral("the compression window size is out of range"));
    // chmlib divides by the number of frames between resets; it must be a whole, non-zero count.
    if (interval == 0 || interval % (window / 2) != 0 || windowsPerReset == 0 ||
        interval / (window / 2) * windowsPerReset > (1u << 16))
        return fail(reason, QStringLiteral("the compression reset interval is invalid"));

    const QByteArray tableBytes = readSectionZero(*reset, off, size, 64ull << 20, readAt);
    const ByteReader t(tableBytes);
    quint32 blockCount = 0, entrySize = 0, tableOffset = 0;
    quint64 uncompressed = 0, compressed = 0, blockLength = 0;
    if (!t.u32(4, &blockCount) || !t.u32(8, &entrySize) || !t.u32(12, &tableOffset) ||
        !t.u64(16, &uncompressed) || !t.u64(24, &compressed) || !t.u64(32, &blockLength))
        return fail(reason, QStringLiteral("the compression reset table is missing or cut off"));
    if (blockLength != kLzxFrame)
        return fail(reason, QStringLiteral("the compression block length is invalid"));
    const quint64 blocksNeeded = (uncompressed + kLzxFrame - 1) / kLzxFrame;
    if (entrySize != 8 || blockCount < blocksNeeded ||
        !t.contains(tableOffset, static_cast<quint64>(blockCount) * 8))
        return fail(reason, QStringLiteral("the compression reset table is inconsistent"));
    if (content->section != 0 || content->length < compressed || off > size ||
        content->offset > size - off || compressed > size - off - content->offset)
        return fail(reason, QStringLiteral("the compressed data is cut off"));
    quint64 previous = 0;
    for (quint32 i = 0; i < blockCount; ++i) {
        quint64 at = 0;
        t.u64(tableOffset + static_cast<quint64>(i) * 8, &at);
        if (at < previous || at > compressed)
            return fail(reason, QStringLiteral("the compression reset table is out of order"));
        previous = at;
    }
    *uncompressedLength = uncompressed;
    return true;
}

std::optional<CHMContainerLayout>
CHMContainerLayout::parse(const QByteArray& head, quint64 fileSize,
                          const std::function<QByteArray(quint64, quint64)>& readAt,
                          QString* reason) {
    const ByteReader h(head);
    quint32 version = 0, headerLength = 0;
    if (!h.matches(0, "ITSF", 4) || !h.u32(4, &version) || !h.u32(8, &headerLength)) {
        fail(reason, QStringLiteral("it is not a compiled help file"));
        return std::nullopt;
    }
    quint64 dirOffset = 0, dirLength = 0, contentOffset = 0;
    if ((version != 2 && version != 3) || headerLength < (version == 3 ? 0x60u : 0x58u) ||
        !h.u64(0x48, &dirOffset) || !h.u64(0x50, &dirLength)) {
        fail(reason, QStringLiteral("the file header is damaged"));
        return std::nullopt;
    }
    if (dirOffset > fileSize || dirLength > fileSize - dirOffset || dirLength < 0x54 ||
        dirLength > kMaxDirectoryLength) {
        fail(reason, QStringLiteral("the directory lies outside the file"));
        return std::nullopt;
    }
    if (version == 3) {
        h.u64(0x58, &contentOffset);
    } else {
        contentOffset = dirOffset + dirLength;
    }
    if (contentOffset > fileSize) {
        fail(reason, QStringLiteral("the content lies outside the file"));
        return std::nullopt;
    }

    const QByteArray directory = readAt(dirOffset, dirLength);
    const ByteReader d(directory);
    quint32 itspHeader = 0, chunkSize = 0, chunkCount = 0;
    qint32 indexRoot = -1, firstListing = -1, lastListing = -1;
    if (static_cast<quint64>(directory.size()) != dirLength || !d.matches(0, "ITSP", 4) ||
        !d.u32(0x08, &itspHeader) || !d.u32(0x10, &chunkSize) || !d.i32(0x1C, &indexRoot) ||
        !d.i32(0x20, &firstListing) || !d.i32(0x24, &lastListing) || !d.u32(0x2C, &chunkCount)) {
        fail(reason, QStringLiteral("the directory header is cut off"));
        return std::nullopt;
    }
    const auto inRange = [&](qint32 n) { return n >= 0 && static_cast<quint32>(n) < chunkCount; };
    if (itspHeader < 0x54 || chunkSize < 0x20 || chunkSize > kMaxChunkSize || chunkCount == 0 ||
        !d.contains(itspHeader, static_cast<quint64>(chunkCount) * chunkSize) ||
        !(indexRoot == -1 || inRange(indexRoot)) || !inRange(firstListing) ||
        !inRange(lastListing)) {
        fail(reason, QStringLiteral("the directory header is inconsistent"));
        return std::nullopt;
    }
    // chmlib starts its lookups at the root chunk (the first listing chunk when there is none).
    const quint64 start =
        itspHeader + static_cast<quint64>(indexRoot == -1 ? firstListing : indexRoot) * chunkSize;
    if (!d.matches(start, "PMGL", 4) && !d.matches(start, "PMGI", 4)) {
        fail(reason, QStringLiteral("the directory's root chunk is damaged"));
        return std::nullopt;
    }

    CHMContainerLayout layout;
    layout.m_chunkSize = chunkSize;
    layout.m_chunkCount = chunkCount;
    layout.m_contentOffset = contentOffset;
    layout.m_fileSize = fileSize;
    CHMDirectoryWalk::Geometry g{itspHeader, chunkSize, chunkCount, indexRoot};
    if (!CHMDirectoryWalk::run(directory, g, &layout.m_objects, reason))
        return std::nullopt;
    if (!checkCompressedSection(layout, readAt, &layout.m_lzxUncompressedLength, reason))
        return std::nullopt;
    return layout;
}

std::optional<CHMContainerLayout> CHMContainerLayout::read(const QString& path, QString* reason) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        fail(reason, file.errorString());
        return std::nullopt;
    }
    const auto readAt = [&file](quint64 at, quint64 length) -> QByteArray {
        if (!file.seek(static_cast<qint64>(at)))
            return {};
        return file.read(static_cast<qint64>(length));
    };
    const quint64 size = static_cast<quint64>(file.size());
    return parse(readAt(0, 0x60), size, readAt, reason);
}

const CHMObjectEntry* CHMContainerLayout::find(const QByteArray& name) const {
    for (const auto& e : m_objects) {
        if (e.name == name)
            return &e;
    }
    return nullptr;
}
