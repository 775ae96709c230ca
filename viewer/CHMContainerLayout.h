// The container's own structures, read and checked by the reader before chmlib sees the file.
//
// chmlib trusts the file header, the directory chunks and the LZX control data: damaged values
// there make it divide by zero, overrun buffers or loop forever. `CHMContainerLayout::read`
// reads those structures with every offset, length and count bounds-checked and answers a
// one-line reason when the file is damaged. It also walks every listing chunk of the
// directory, which is how the reader enumerates objects: chmlib starts its listing at the chunk
// the header names, and some compilers name the wrong one.
//
// Plain data once read; safe to use from any thread. Reads the file only inside `read`.
#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>
#include <functional>
#include <optional>
#include <vector>

struct CHMObjectEntry {
    QByteArray name;     // as stored: UTF-8, "/"-rooted for files, "::" for internal streams
    quint64 section = 0; // 0 uncompressed, 1 LZX
    quint64 offset = 0;
    quint64 length = 0;
};

// The three streams of the LZX section as chmlib's lookup finds them (nullopt where it finds
// none); the document compares them with what chmlib itself resolves once it has the file.
struct CHMCompressionStreams {
    std::optional<CHMObjectEntry> controlData;
    std::optional<CHMObjectEntry> resetTable;
    std::optional<CHMObjectEntry> content;
};

// Where the LZX section's frames lie, as chmlib reads them (empty when the file has none).
struct CHMLzxFrames {
    std::vector<quint64> starts; // offset of each frame in the compressed stream
    quint64 compressedLength = 0;
    quint64 streamOffset = 0; // of the compressed stream, from the file's start
    int windowBits = 0;
    quint32 framesPerReset = 0; // chmlib resets its decoder every this many frames
};

class CHMContainerLayout {
public:
    // Reads and checks the file at `path`. On failure answers nullopt and sets `reason` to a
    // short phrase ("the directory header is cut off"); a file that cannot be read at all gets
    // the system's message.
    static std::optional<CHMContainerLayout> read(const QString& path, QString* reason);
    // The same over a file already open for reading.
    static std::optional<CHMContainerLayout> read(QFile& file, QString* reason);

    // Reads and checks an in-memory image of a file (the fuzz targets and tests use this).
    static std::optional<CHMContainerLayout>
    parse(const QByteArray& head, quint64 fileSize,
          const std::function<QByteArray(quint64, quint64)>& readAt, QString* reason);

    // Every object of every listing chunk, in chunk order, each name once.
    const std::vector<CHMObjectEntry>& objects() const { return m_objects; }
    const CHMObjectEntry* find(const QByteArray& name) const;

    quint32 chunkSize() const { return m_chunkSize; }
    quint32 chunkCount() const { return m_chunkCount; }
    quint64 contentOffset() const { return m_contentOffset; }
    quint64 fileSize() const { return m_fileSize; }
    // Uncompressed length of the LZX section (0 when the file has none).
    quint64 compressedSectionLength() const { return m_lzxUncompressedLength; }
    const CHMCompressionStreams& compressionStreams() const { return m_compressionStreams; }
    const CHMLzxFrames& lzxFrames() const { return m_lzxFrames; }

    static const QByteArray& controlDataName();
    static const QByteArray& resetTableName();
    static const QByteArray& contentName();

private:
    std::vector<CHMObjectEntry> m_objects;
    quint32 m_chunkSize = 0;
    quint32 m_chunkCount = 0;
    quint64 m_contentOffset = 0;
    quint64 m_fileSize = 0;
    quint64 m_lzxUncompressedLength = 0;
    CHMCompressionStreams m_compressionStreams;
    CHMLzxFrames m_lzxFrames;

    friend class CHMDirectoryWalk;
};
