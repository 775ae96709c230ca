#include "TestChmWriter.h"

namespace testsupport {

void putU32(QByteArray& b, int at, quint32 v) {
    for (int i = 0; i < 4; ++i)
        b[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

void putU64(QByteArray& b, int at, quint64 v) {
    for (int i = 0; i < 8; ++i)
        b[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

static void appendEncint(QByteArray& out, quint64 v) {
    QByteArray groups;
    do {
        groups.prepend(static_cast<char>(v & 0x7F));
        v >>= 7;
    } while (v);
    for (int i = 0; i < groups.size() - 1; ++i)
        groups[i] = static_cast<char>(groups[i] | 0x80);
    out += groups;
}

QByteArray systemFile(const std::vector<std::pair<quint16, QByteArray>>& records) {
    QByteArray out(4, '\0');
    putU32(out, 0, 3);
    for (const auto& [code, data] : records) {
        QByteArray head(4, '\0');
        head[0] = static_cast<char>(code & 0xFF);
        head[1] = static_cast<char>(code >> 8);
        head[2] = static_cast<char>(data.size() & 0xFF);
        head[3] = static_cast<char>((data.size() >> 8) & 0xFF);
        out += head + data;
    }
    return out;
}

QByteArray writeChm(const std::vector<ChmObject>& objects) {
    // Listing entries, packed into as many chunks as they need.
    QByteArray content;
    std::vector<QByteArray> chunkEntries(1);
    for (const ChmObject& o : objects) {
        QByteArray entry;
        appendEncint(entry, static_cast<quint64>(o.name.size()));
        entry += o.name;
        appendEncint(entry, o.section);
        appendEncint(entry, o.section ? o.offset : static_cast<quint64>(content.size()));
        appendEncint(entry, o.claimedLength.value_or(static_cast<quint64>(o.bytes.size())));
        if (o.section == 0)
            content += o.bytes;
        if (chunkEntries.back().size() + entry.size() > kChunkSize - 0x14 - 8)
            chunkEntries.emplace_back();
        chunkEntries.back() += entry;
    }
    const int chunks = static_cast<int>(chunkEntries.size());
    const int dirLength = 0x54 + chunks * kChunkSize;
    const int contentOffset = kItspOffset + dirLength;

    QByteArray out(contentOffset, '\0');
    out.replace(0, 4, "ITSF");
    putU32(out, 0x04, 3);
    putU32(out, 0x08, 0x60);
    putU32(out, 0x0C, 1);
    putU32(out, 0x14, 0x409);
    putU64(out, 0x38, 0x60);
    putU64(out, 0x40, 0x18);
    putU64(out, 0x48, kItspOffset);
    putU64(out, 0x50, static_cast<quint64>(dirLength));
    putU64(out, 0x58, static_cast<quint64>(contentOffset));
    putU32(out, 0x60, 0x01FE);
    putU64(out, 0x68, static_cast<quint64>(contentOffset + content.size()));

    out.replace(kItspOffset, 4, "ITSP");
    putU32(out, kItspOffset + 0x04, 1);
    putU32(out, kItspOffset + 0x08, 0x54);
    putU32(out, kItspOffset + 0x0C, 0x0A);
    putU32(out, kItspOffset + 0x10, kChunkSize);
    putU32(out, kItspOffset + 0x14, 2);
    putU32(out, kItspOffset + 0x18, 1);
    putU32(out, kItspOffset + 0x1C, 0xFFFFFFFF);
    putU32(out, kItspOffset + 0x20, 0);
    putU32(out, kItspOffset + 0x24, static_cast<quint32>(chunks - 1));
    putU32(out, kItspOffset + 0x28, 0xFFFFFFFF);
    putU32(out, kItspOffset + 0x2C, static_cast<quint32>(chunks));
    putU32(out, kItspOffset + 0x30, 0x409);
    putU32(out, kItspOffset + 0x44, 0x54);
    for (int at : {0x48, 0x4C, 0x50})
        putU32(out, kItspOffset + at, 0xFFFFFFFF);

    for (int n = 0; n < chunks; ++n) {
        const int chunk = kFirstChunkOffset + n * kChunkSize;
        out.replace(chunk, 4, "PMGL");
        putU32(out, chunk + 4, static_cast<quint32>(kChunkSize - 0x14 - chunkEntries[n].size()));
        putU32(out, chunk + 0x0C, n == 0 ? 0xFFFFFFFF : static_cast<quint32>(n - 1));
        putU32(out, chunk + 0x10, n == chunks - 1 ? 0xFFFFFFFF : static_cast<quint32>(n + 1));
        out.replace(chunk + 0x14, chunkEntries[n].size(), chunkEntries[n]);
    }
    return out + content;
}

QByteArray writeLzxChm(std::vector<ChmObject> objects, const QByteArray& stream,
                       const std::vector<quint64>& frameStarts, quint64 uncompressedLength,
                       int windowBits) {
    QByteArray control(0x1C, '\0');
    putU32(control, 0, 6);
    control.replace(4, 4, "LZXC");
    const quint32 window = (1u << windowBits) / 0x8000;
    putU32(control, 8, 2);
    putU32(control, 12, window); // reset interval: a window, so a reset every two frames
    putU32(control, 16, window);
    putU32(control, 20, 1);
    QByteArray reset(0x28 + 8 * static_cast<int>(frameStarts.size()), '\0');
    putU32(reset, 0, 2);
    putU32(reset, 4, static_cast<quint32>(frameStarts.size()));
    putU32(reset, 8, 8);
    putU32(reset, 12, 0x28);
    putU64(reset, 16, uncompressedLength);
    putU64(reset, 24, static_cast<quint64>(stream.size()));
    putU64(reset, 32, 0x8000);
    for (size_t i = 0; i < frameStarts.size(); ++i)
        putU64(reset, 0x28 + 8 * static_cast<int>(i), frameStarts[i]);
    objects.push_back({"::DataSpace/Storage/MSCompressed/ControlData", control});
    objects.push_back({"::DataSpace/Storage/MSCompressed/Transform/"
                       "{7FC28940-9D31-11D0-9B27-00A0C91E9C7C}/InstanceData/ResetTable",
                       reset});
    objects.push_back({"::DataSpace/Storage/MSCompressed/Content", stream});
    return writeChm(objects);
}

} // namespace testsupport
