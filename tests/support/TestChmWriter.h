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
};

// Offsets of the structures in what writeChm produces.
constexpr int kItsfOffset = 0;
constexpr int kItspOffset = 0x78;
constexpr int kFirstChunkOffset = kItspOffset + 0x54;
constexpr int kChunkSize = 0x1000;

// A container holding the objects in one listing chunk (several when they don't fit), all in
// the uncompressed section.
QByteArray writeChm(const std::vector<ChmObject>& objects);

// "/#SYSTEM" bytes: version 3, then the records as given (code, data).
QByteArray systemFile(const std::vector<std::pair<quint16, QByteArray>>& records);

void putU32(QByteArray& bytes, int at, quint32 value);
void putU64(QByteArray& bytes, int at, quint64 value);

} // namespace testsupport
