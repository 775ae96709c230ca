#include "ChmContainerModel.h"

#include <tuple>

namespace chmcraft {

const char* const kControlData = "::DataSpace/Storage/MSCompressed/ControlData";
const char* const kResetTable = "::DataSpace/Storage/MSCompressed/Transform/"
                                "{7FC28940-9D31-11D0-9B27-00A0C91E9C7C}/InstanceData/ResetTable";
const char* const kContent = "::DataSpace/Storage/MSCompressed/Content";

namespace {

quint64 le(const QByteArray& b, qsizetype at, int width) {
    quint64 v = 0;
    for (int i = 0; i < width; ++i)
        v |= static_cast<quint64>(static_cast<quint8>(b[at + i])) << (8 * i);
    return v;
}

void put(QByteArray& b, qsizetype at, quint64 v, int width) {
    for (int i = 0; i < width; ++i)
        b[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

bool encint(const QByteArray& b, qsizetype* at, qsizetype end, quint64* out) {
    quint64 v = 0;
    for (int i = 0; i < 10 && *at < end; ++i) {
        const auto byte = static_cast<quint8>(b[(*at)++]);
        v = (v << 7) | (byte & 0x7F);
        if (!(byte & 0x80)) {
            *out = v;
            return true;
        }
    }
    return false;
}

void appendEncint(QByteArray& out, quint64 v) {
    QByteArray groups;
    do {
        groups.prepend(static_cast<char>(v & 0x7F));
        v >>= 7;
    } while (v);
    for (qsizetype i = 0; i + 1 < groups.size(); ++i)
        groups[i] = static_cast<char>(groups[i] | 0x80);
    out += groups;
}

QByteArray entryBytes(const Entry& e) {
    QByteArray out;
    appendEncint(out, static_cast<quint64>(e.name.size()));
    out += e.name;
    appendEncint(out, e.section);
    appendEncint(out, e.offset);
    appendEncint(out, e.length);
    return out;
}

} // namespace

Entry* Model::find(const QByteArray& name) {
    for (Entry& e : entries) {
        if (e.name == name)
            return &e;
    }
    return nullptr;
}

QByteArray Model::bytesOf(const Entry& e) const {
    const auto size = static_cast<quint64>(content.size());
    if (e.section != 0 || e.offset > size || e.length > size - e.offset)
        return {};
    return content.mid(static_cast<qsizetype>(e.offset), static_cast<qsizetype>(e.length));
}

bool Model::patch(const Entry& e, quint64 at, quint64 value, int width) {
    const auto size = static_cast<quint64>(content.size());
    if (e.section != 0 || at + width > e.length || e.offset > size || e.offset + at + width > size)
        return false;
    put(content, static_cast<qsizetype>(e.offset + at), value, width);
    return true;
}

std::optional<Model> parse(const QByteArray& file) {
    if (file.size() < 0x60 || !file.startsWith("ITSF"))
        return std::nullopt;
    const quint64 dirOffset = le(file, 0x48, 8), dirLength = le(file, 0x50, 8);
    const quint64 version = le(file, 4, 4);
    const quint64 size = static_cast<quint64>(file.size());
    if (dirOffset > size || dirLength > size - dirOffset || dirLength < 0x54)
        return std::nullopt;
    const quint64 contentOffset = version == 3 ? le(file, 0x58, 8) : dirOffset + dirLength;
    if (contentOffset > size)
        return std::nullopt;
    const auto d = static_cast<qsizetype>(dirOffset);
    if (file.mid(d, 4) != "ITSP")
        return std::nullopt;
    Model m;
    const quint64 header = le(file, d + 8, 4);
    m.chunkSize = static_cast<quint32>(le(file, d + 0x10, 4));
    if (m.chunkSize < 0x20 || m.chunkSize > (1u << 20) || header > dirLength)
        return std::nullopt;
    const quint64 chunks = (dirLength - header) / m.chunkSize;
    int listings = 0;
    for (quint64 n = 0; n < chunks; ++n) {
        const auto chunk = static_cast<qsizetype>(dirOffset + header + n * m.chunkSize);
        if (file.mid(chunk, 4) != "PMGL")
            continue;
        // chmlib finds names beyond the first listing chunk only through an index.
        m.withIndex = ++listings > 1;
        const quint64 freeSpace = le(file, chunk + 4, 4);
        if (freeSpace > m.chunkSize - 0x14)
            continue;
        const qsizetype end = chunk + static_cast<qsizetype>(m.chunkSize - freeSpace);
        qsizetype at = chunk + 0x14;
        while (at < end) {
            Entry e;
            quint64 length = 0;
            if (!encint(file, &at, end, &length) || length > static_cast<quint64>(end - at))
                break;
            e.name = file.mid(at, static_cast<qsizetype>(length));
            at += static_cast<qsizetype>(length);
            if (!encint(file, &at, end, &e.section) || !encint(file, &at, end, &e.offset) ||
                !encint(file, &at, end, &e.length))
                break;
            m.entries.push_back(std::move(e));
        }
    }
    m.content = file.mid(static_cast<qsizetype>(contentOffset));
    return m;
}

QByteArray write(const Model& m) {
    const quint32 chunkSize = m.chunkSize < 0x40 ? 0x40 : m.chunkSize;
    std::vector<QByteArray> listing(1);
    std::vector<QByteArray> firstNames(1);
    std::vector<int> counts(1);
    int inChunk = 0;
    for (const Entry& e : m.entries) {
        QByteArray bytes = entryBytes(e);
        // Each listing chunk ends with its entry count (two bytes), which libmspack reads.
        if (bytes.size() > static_cast<qsizetype>(chunkSize - 0x16))
            continue; // a name too long for any chunk is left out
        const bool full = listing.back().size() + bytes.size() > chunkSize - 0x16 ||
                          (m.entriesPerChunk > 0 && inChunk >= m.entriesPerChunk);
        if (full && inChunk > 0) {
            listing.emplace_back();
            firstNames.emplace_back();
            counts.push_back(0);
            inChunk = 0;
        }
        if (inChunk == 0)
            firstNames.back() = e.name;
        listing.back() += bytes;
        ++inChunk;
        ++counts.back();
    }
    const int listings = static_cast<int>(listing.size());
    QByteArray index;
    if (m.withIndex) {
        for (int n = 0; n < listings; ++n) {
            QByteArray entry;
            appendEncint(entry, static_cast<quint64>(firstNames[n].size()));
            entry += firstNames[n];
            appendEncint(entry, static_cast<quint64>(n));
            if (index.size() + entry.size() > static_cast<qsizetype>(chunkSize - 8))
                break;
            index += entry;
        }
    }
    const int chunks = listings + (m.withIndex ? 1 : 0);
    const quint64 dirLength = 0x54 + static_cast<quint64>(chunks) * chunkSize;
    const quint64 itsp = 0x78;
    const quint64 contentOffset = itsp + dirLength;

    QByteArray out(static_cast<qsizetype>(contentOffset), '\0');
    out.replace(0, 4, "ITSF");
    put(out, 0x04, 3, 4);
    put(out, 0x08, 0x60, 4);
    put(out, 0x0C, 1, 4);
    put(out, 0x14, 0x409, 4);
    put(out, 0x38, 0x60, 8);
    put(out, 0x40, 0x18, 8);
    put(out, 0x48, itsp, 8);
    put(out, 0x50, dirLength, 8);
    put(out, 0x58, contentOffset, 8);
    put(out, 0x60, 0x01FE, 4);
    put(out, 0x68, contentOffset + static_cast<quint64>(m.content.size()), 8);

    const auto p = static_cast<qsizetype>(itsp);
    out.replace(p, 4, "ITSP");
    put(out, p + 0x04, 1, 4);
    put(out, p + 0x08, 0x54, 4);
    put(out, p + 0x0C, 0x0A, 4);
    put(out, p + 0x10, chunkSize, 4);
    put(out, p + 0x14, 2, 4);
    put(out, p + 0x18, m.withIndex ? 2 : 1, 4);
    put(out, p + 0x1C, m.withIndex ? static_cast<quint64>(listings) : 0xFFFFFFFFu, 4);
    put(out, p + 0x20, 0, 4);
    put(out, p + 0x24, static_cast<quint64>(listings - 1), 4);
    put(out, p + 0x28, 0xFFFFFFFFu, 4);
    put(out, p + 0x2C, static_cast<quint64>(chunks), 4);
    put(out, p + 0x30, 0x409, 4);
    put(out, p + 0x44, 0x54, 4);

    for (int n = 0; n < listings; ++n) {
        const qsizetype chunk = p + 0x54 + static_cast<qsizetype>(n) * chunkSize;
        out.replace(chunk, 4, "PMGL");
        put(out, chunk + 4, chunkSize - 0x14 - static_cast<quint64>(listing[n].size()), 4);
        qint32 prev = n - 1, next = n + 1 < listings ? n + 1 : -1;
        if (static_cast<size_t>(n) < m.links.size())
            std::tie(prev, next) = m.links[static_cast<size_t>(n)];
        put(out, chunk + 0x0C, static_cast<quint32>(prev), 4);
        put(out, chunk + 0x10, static_cast<quint32>(next), 4);
        out.replace(chunk + 0x14, listing[n].size(), listing[n]);
        put(out, chunk + static_cast<qsizetype>(chunkSize) - 2, static_cast<quint64>(counts[n]), 2);
    }
    if (m.withIndex) {
        const qsizetype chunk = p + 0x54 + static_cast<qsizetype>(listings) * chunkSize;
        out.replace(chunk, 4, "PMGI");
        put(out, chunk + 4, chunkSize - 8 - static_cast<quint64>(index.size()), 4);
        out.replace(chunk + 8, index.size(), index);
    }
    return out + m.content;
}

} // namespace chmcraft
