// Writes small, uncompressed .chm containers for tests: no compiler makes damaged files,
// zero-length objects or odd metadata, so the tests make them. The layout is fixed so that a
// test can patch a field at a known offset to damage one structure.
#pragma once

#include <QByteArray>
#include <optional>
#include <utility>
#include <vector>

namespace testsupport {

struct ChmObject {
    QByteArray name; // "/page.htm", "/#SYSTEM", ...
    QByteArray bytes;
    // The length the listing entry claims, when it is to differ from the bytes written.
    std::optional<quint64> claimedLength = std::nullopt;
    // 1: listed in the LZX section at `offset` of its uncompressed bytes; `bytes` are not
    // written (the length is claimedLength, or the size of `bytes`).
    quint64 section = 0;
    quint64 offset = 0;
};

// Offsets of the structures in what writeChm produces.
constexpr int kItsfOffset = 0;
constexpr int kItspOffset = 0x78;
constexpr int kFirstChunkOffset = kItspOffset + 0x54;
constexpr int kChunkSize = 0x1000;

// A container holding the objects in one listing chunk (several when they don't fit), all in
// the uncompressed section.
QByteArray writeChm(const std::vector<ChmObject>& objects);

// A container with an LZX section: the objects as writeChm lays them out, plus the section's
// control data (the window of `windowBits`, a reset every two frames), its reset table (a block
// at each frame start, `uncompressedLength` bytes in all) and its compressed stream.
QByteArray writeLzxChm(std::vector<ChmObject> objects, const QByteArray& stream,
                       const std::vector<quint64>& frameStarts, quint64 uncompressedLength,
                       int windowBits);

// "/#SYSTEM" bytes: version 3, then the records as given (code, data).
QByteArray systemFile(const std::vector<std::pair<quint16, QByteArray>>& records);

void putU32(QByteArray& bytes, int at, quint32 value);
void putU64(QByteArray& bytes, int at, quint64 value);

} // namespace testsupport
