#include "CHMContainerLayout.h"

#include "ByteReader.h"
#include "CHMDirectoryWalk.h"
#include "ChmlibLookup.h"
#include "LzxFrameCheck.h"

#include <QFile>
#include <QHash>
#include <algorithm>
#include <utility>

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

// chmlib reads one compressed block into a buffer of a frame plus 6144 bytes; its decoder looks
// a few bytes past the block's end, which must still lie inside that buffer.
constexpr quint64 kChmlibBlockBuffer = kLzxFrame + 6144 - LzxFrameCheck::kLookAhead;
// The most frames chmlib decodes again to reach one block inside a reset interval.
constexpr quint64 kMaxFramesPerReset = 1u << 16;

// The LZX control data as chmlib reads it: it copies the whole object into a 256-byte buffer,
// multiplies the version 2 fields by a frame in 32 bits and divides by half the window.
static bool checkControlData(const QByteArray& bytes, quint64 length, CHMLzxFrames* frames,
                             QString* reason) {
    const ByteReader c(bytes);
    quint32 version = 0, resetInterval = 0, windowSize = 0, windowsPerReset = 0;
    if (length < 0x18 || length > 256 || static_cast<quint64>(bytes.size()) != length ||
        !c.matches(4, "LZXC", 4) || !c.u32(8, &version) || !c.u32(12, &resetInterval) ||
        !c.u32(16, &windowSize) || !c.u32(20, &windowsPerReset))
        return fail(reason, QStringLiteral("the compression control data is missing or cut off"));
    quint64 window = windowSize, interval = resetInterval;
    if (version == 2) {
        window *= kLzxFrame;
        interval *= kLzxFrame;
    } else if (version != 1) {
        return fail(reason, QStringLiteral("the compression control data has an unknown version"));
    }
    // chmlib keeps both in 32 bits: a value that wraps there is not the value checked here.
    if (window > 0xFFFFFFFFu || interval > 0xFFFFFFFFu)
        return fail(reason, QStringLiteral("the compression window size is out of range"));
    if (!isPowerOfTwo(window) || window < (1u << 15) || window > (1u << 21))
        return fail(reason, QStringLiteral("the compression window size is out of range"));
    // chmlib divides by the number of frames between resets; it must be a whole, non-zero count.
    if (interval == 0 || interval % (window / 2) != 0 || windowsPerReset == 0 ||
        interval / (window / 2) * windowsPerReset > kMaxFramesPerReset)
        return fail(reason, QStringLiteral("the compression reset interval is invalid"));
    frames->windowBits = 0;
    while ((quint64(1) << frames->windowBits) < window)
        ++frames->windowBits;
    frames->framesPerReset = static_cast<quint32>(interval / (window / 2) * windowsPerReset);
    return true;
}

// The reset table: where each compressed block starts. chmlib reads block i from entry i to
// entry i + 1 (the last block up to the compressed length) into a buffer of kChmlibBlockBuffer
// bytes, and checks that bound on only one of its two paths.
static bool checkResetTable(const QByteArray& tableBytes, quint64* uncompressedLength,
                            CHMLzxFrames* frames, QString* reason) {
    const ByteReader t(tableBytes);
    quint32 version = 0, blockCount = 0, entrySize = 0, tableOffset = 0;
    quint64 uncompressed = 0, compressed = 0, blockLength = 0;
    if (!t.u32(0, &version) || !t.u32(4, &blockCount) || !t.u32(8, &entrySize) ||
        !t.u32(12, &tableOffset) || !t.u64(16, &uncompressed) || !t.u64(24, &compressed) ||
        !t.u64(32, &blockLength))
        return fail(reason, QStringLiteral("the compression reset table is missing or cut off"));
    if (version != 2)
        return fail(reason, QStringLiteral("the compression reset table has an unknown version"));
    if (blockLength != kLzxFrame)
        return fail(reason, QStringLiteral("the compression block length is invalid"));
    const quint64 blocksNeeded = (uncompressed + kLzxFrame - 1) / kLzxFrame;
    if (entrySize != 8 || blockCount < blocksNeeded ||
        !t.contains(tableOffset, static_cast<quint64>(blockCount) * 8))
        return fail(reason, QStringLiteral("the compression reset table is inconsistent"));
    quint64 previous = 0;
    for (quint32 i = 0; i < blockCount; ++i) {
        quint64 at = 0;
        t.u64(tableOffset + static_cast<quint64>(i) * 8, &at);
        if (at < previous || at > compressed)
            return fail(reason, QStringLiteral("the compression reset table is out of order"));
        if (i > 0 && at - previous > kChmlibBlockBuffer)
            return fail(
                reason,
                QStringLiteral("compressed block %1 is longer than a block can be").arg(i - 1));
        previous = at;
        frames->starts.push_back(at);
    }
    if (blockCount > 0 && compressed - previous > kChmlibBlockBuffer)
        return fail(reason, QStringLiteral("compressed block %1 is longer than a block can be")
                                .arg(blockCount - 1));
    *uncompressedLength = uncompressed;
    frames->compressedLength = compressed;
    return true;
}

static bool checkCompressedSection(const CHMContainerLayout& layout, const ChmlibLookup& lookup,
                                   const std::function<QByteArray(quint64, quint64)>& readAt,
                                   CHMCompressionStreams* streams, CHMLzxFrames* frames,
                                   quint64* uncompressedLength, QString* reason) {
    // Exactly the streams chmlib's own lookup finds: a twin elsewhere in the directory is what
    // chmlib would read, not the first entry of that name.
    streams->controlData = lookup.resolve(kControlData);
    streams->resetTable = lookup.resolve(kResetTable);
    streams->content = lookup.resolve(kContent);
    *uncompressedLength = 0;
    const auto& control = streams->controlData;
    const auto& reset = streams->resetTable;
    const auto& content = streams->content;
    // chmlib reads nothing compressed unless it finds all three in the uncompressed section. A
    // book without compressed objects needs none of them; one with such objects and no way to
    // read them is damaged: its pages would read as missing, as if it had none.
    if (!control || !reset || !content || control->section != 0 || reset->section != 0 ||
        content->section != 0) {
        const auto& objects = layout.objects();
        if (std::none_of(objects.begin(), objects.end(),
                         [](const CHMObjectEntry& e) { return e.section == 1 && e.length > 0; }))
            return true;
        const auto [stream, what] =
            !control || control->section != 0 ? std::pair(&control, "control data")
            : !reset || reset->section != 0   ? std::pair(&reset, "reset table")
                                              : std::pair(&content, "content");
        return fail(reason, QStringLiteral("the compressed section's %1 is %2")
                                .arg(QLatin1String(what), *stream ? QStringLiteral("misplaced")
                                                                  : QStringLiteral("missing")));
    }
    const quint64 off = layout.contentOffset(), size = layout.fileSize();
    // chmlib reads the reset table header first and gives up on compression when it is short.
    const QByteArray tableBytes = readSectionZero(*reset, off, size, 64ull << 20, readAt);
    if (tableBytes.size() < 0x28 || static_cast<quint64>(tableBytes.size()) != reset->length)
        return fail(reason, QStringLiteral("the compression reset table is missing or cut off"));
    const QByteArray controlBytes = readSectionZero(*control, off, size, 256, readAt);
    CHMLzxFrames found;
    if (!checkControlData(controlBytes, control->length, &found, reason))
        return false;
    quint64 uncompressed = 0;
    if (!checkResetTable(tableBytes, &uncompressed, &found, reason))
        return false;
    const quint64 compressed = found.compressedLength;
    if (content->length < compressed || off > size || content->offset > size - off ||
        compressed > size - off - content->offset)
        return fail(reason, QStringLiteral("the compressed data is cut off"));
    found.streamOffset = off + content->offset;
    *frames = std::move(found);
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
    quint32 itspVersion = 0, itspHeader = 0, chunkSize = 0, chunkCount = 0;
    qint32 indexRoot = -1, firstListing = -1, lastListing = -1;
    if (static_cast<quint64>(directory.size()) != dirLength || !d.matches(0, "ITSP", 4) ||
        !d.u32(0x04, &itspVersion) || !d.u32(0x08, &itspHeader) || !d.u32(0x10, &chunkSize) ||
        !d.i32(0x1C, &indexRoot) || !d.i32(0x20, &firstListing) || !d.i32(0x24, &lastListing) ||
        !d.u32(0x2C, &chunkCount)) {
        fail(reason, QStringLiteral("the directory header is cut off"));
        return std::nullopt;
    }
    const auto inRange = [&](qint32 n) { return n >= 0 && static_cast<quint32>(n) < chunkCount; };
    // chmlib knows version 1 with a header of exactly 0x54 bytes and places chunks after it.
    if (itspVersion != 1 || itspHeader != 0x54 || chunkSize < 0x20 || chunkSize > kMaxChunkSize ||
        chunkCount == 0 || !d.contains(itspHeader, static_cast<quint64>(chunkCount) * chunkSize) ||
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
    const ChmlibLookup lookup(directory, g, firstListing);
    if (!checkCompressedSection(layout, lookup, readAt, &layout.m_compressionStreams,
                                &layout.m_lzxFrames, &layout.m_lzxUncompressedLength, reason))
        return std::nullopt;
    return layout;
}

std::optional<CHMContainerLayout> CHMContainerLayout::read(const QString& path, QString* reason) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        fail(reason, file.errorString());
        return std::nullopt;
    }
    return read(file, reason);
}

std::optional<CHMContainerLayout> CHMContainerLayout::read(QFile& file, QString* reason) {
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

const QByteArray& CHMContainerLayout::controlDataName() {
    return kControlData;
}

const QByteArray& CHMContainerLayout::resetTableName() {
    return kResetTable;
}

const QByteArray& CHMContainerLayout::contentName() {
    return kContent;
}
