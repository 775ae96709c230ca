#include "ContainerMutator.h"

#include "ChmContainerModel.h"
#include "LzxMutator.h"

#include <algorithm>
#include <cstring>
#include <random>

namespace fuzz {

namespace {

// Seeded afresh for every mutation; a Mersenne twister spreads even neighbouring seeds apart.
using Rng = std::mt19937;

quint64 pick(Rng& rng, quint64 n) {
    return n == 0 ? 0 : std::uniform_int_distribution<quint64>(0, n - 1)(rng);
}

// Values at the edges of what chmlib computes with: zero, one, frame multiples, 32-bit wraps.
quint64 interesting(Rng& rng, quint64 current) {
    static const quint64 values[] = {
        0,       1,       2,          3,          4,          0x10,       0x20,    0x40,
        0x7FFF,  0x8000,  0x8001,     0x9800,     0x9801,     0xA000,     0x10000, 0x20000,
        0x20002, 0x1FFFF, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFF, 0x100000000};
    switch (pick(rng, 5)) {
    case 0:
        return current + 1 + pick(rng, 16);
    case 1:
        return current - 1 - pick(rng, 16);
    case 2:
        return current ^ (1ull << pick(rng, 40));
    default:
        return values[pick(rng, sizeof values / sizeof values[0])];
    }
}

QByteArray caseFlipped(Rng& rng, QByteArray name) {
    for (int tries = 0; tries < 4 && !name.isEmpty(); ++tries) {
        char& c = name[static_cast<qsizetype>(pick(rng, static_cast<quint64>(name.size())))];
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 32);
            return name;
        }
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c + 32);
            return name;
        }
    }
    return name.toLower();
}

chmcraft::Entry* randomEntry(Rng& rng, chmcraft::Model& m) {
    if (m.entries.empty())
        return nullptr;
    // The streams of the LZX section are where the damage matters most: pick them often.
    if (pick(rng, 2) == 0) {
        const char* names[] = {chmcraft::kControlData, chmcraft::kResetTable, chmcraft::kContent};
        if (auto* e = m.find(names[pick(rng, 3)]))
            return e;
    }
    return &m.entries[static_cast<size_t>(pick(rng, m.entries.size()))];
}

void mutateName(Rng& rng, chmcraft::Model& m) {
    chmcraft::Entry* e = randomEntry(rng, m);
    if (!e)
        return;
    chmcraft::Entry twin = *e;
    switch (pick(rng, 6)) {
    case 0: // a twin differing in case, before or after the original
        twin.name = caseFlipped(rng, twin.name);
        break;
    case 1: // the same name with a NUL and a tail
        twin.name += QByteArray("\0x", 2);
        break;
    case 2: // an exact copy
        break;
    case 3: // the original itself changes case
        e->name = caseFlipped(rng, e->name);
        return;
    case 4: // a NUL inside the original
        e->name.insert(static_cast<qsizetype>(pick(rng, static_cast<quint64>(e->name.size()))),
                       '\0');
        return;
    default: // cut the name
        e->name.truncate(
            static_cast<qsizetype>(pick(rng, static_cast<quint64>(e->name.size())) + 1));
        return;
    }
    // The twin points at other bytes: somewhere inside the section, or with another length.
    if (pick(rng, 2))
        twin.offset = pick(rng, static_cast<quint64>(m.content.size()) + 1);
    if (pick(rng, 2))
        twin.length = interesting(rng, twin.length);
    const auto at = pick(rng, m.entries.size() + 1);
    m.entries.insert(m.entries.begin() + static_cast<std::ptrdiff_t>(at), std::move(twin));
    // A break right before the twin often puts it in the chunk the index leads to.
    if (pick(rng, 2)) {
        m.withIndex = true;
        m.entriesPerChunk = static_cast<int>(1 + pick(rng, 8));
    }
}

void mutateEntryFields(Rng& rng, chmcraft::Model& m) {
    chmcraft::Entry* e = randomEntry(rng, m);
    if (!e)
        return;
    switch (pick(rng, 3)) {
    case 0:
        e->section = pick(rng, 4) == 0 ? interesting(rng, e->section) : pick(rng, 2);
        break;
    case 1:
        e->offset = interesting(rng, e->offset);
        break;
    default:
        e->length = interesting(rng, e->length);
        break;
    }
}

void mutateControlData(Rng& rng, chmcraft::Model& m) {
    chmcraft::Entry* e = m.find(chmcraft::kControlData);
    if (!e)
        return;
    const QByteArray bytes = m.bytesOf(*e);
    const quint64 at = 8 + 4 * pick(rng, 4); // version, reset interval, window, windows per reset
    quint64 current = 0;
    for (int i = 0; i < 4 && static_cast<qsizetype>(at) + i < bytes.size(); ++i)
        current |= static_cast<quint64>(static_cast<quint8>(bytes[static_cast<qsizetype>(at) + i]))
                   << (8 * i);
    m.patch(*e, at, interesting(rng, current), 4);
}

void mutateResetTable(Rng& rng, chmcraft::Model& m) {
    chmcraft::Entry* e = m.find(chmcraft::kResetTable);
    if (!e)
        return;
    const QByteArray bytes = m.bytesOf(*e);
    if (bytes.size() < 0x28)
        return;
    const auto field = [&](qsizetype at, int width) {
        quint64 v = 0;
        for (int i = 0; i < width && at + i < bytes.size(); ++i)
            v |= static_cast<quint64>(static_cast<quint8>(bytes[at + i])) << (8 * i);
        return v;
    };
    const quint64 count = field(4, 4), tableOffset = field(12, 4);
    switch (pick(rng, 4)) {
    case 0: { // one entry: often a block made longer than chmlib's buffer
        if (count == 0)
            return;
        const quint64 i = pick(rng, std::min<quint64>(count, 4096));
        const quint64 at = tableOffset + 8 * i;
        const quint64 v = field(static_cast<qsizetype>(at), 8);
        const quint64 longer = pick(rng, 2) ? v + 0x9801 + pick(rng, 64) : v - 0x9801;
        m.patch(*e, at, pick(rng, 2) ? longer : interesting(rng, v), 8);
        break;
    }
    case 1: // the count or the table's offset
        m.patch(*e, pick(rng, 2) ? 4 : 12, interesting(rng, pick(rng, 2) ? count : tableOffset), 4);
        break;
    case 2: { // uncompressed or compressed length
        const quint64 at = pick(rng, 2) ? 16 : 24;
        m.patch(*e, at, interesting(rng, field(static_cast<qsizetype>(at), 8)), 8);
        break;
    }
    default: // version, entry size or block length
        switch (pick(rng, 3)) {
        case 0:
            m.patch(*e, 0, interesting(rng, field(0, 4)), 4);
            break;
        case 1:
            m.patch(*e, 8, interesting(rng, field(8, 4)), 4);
            break;
        default:
            m.patch(*e, 32, interesting(rng, field(32, 8)), 8);
            break;
        }
    }
}

void mutateLayout(Rng& rng, chmcraft::Model& m) {
    switch (pick(rng, 5)) {
    case 0:
        m.withIndex = !m.withIndex;
        break;
    case 1:
        m.entriesPerChunk = static_cast<int>(pick(rng, 12));
        break;
    case 2: { // links between listing chunks
        const size_t n = 1 + pick(rng, 4);
        m.links.resize(std::max(m.links.size(), n), {-1, -1});
        m.links[n - 1] = {static_cast<qint32>(interesting(rng, 0) & 0xFF) - 2,
                          static_cast<qint32>(pick(rng, 6)) - 1};
        break;
    }
    case 3: // entries out of order: a lookup then runs down the wrong branch
        if (m.entries.size() > 1)
            std::swap(m.entries[static_cast<size_t>(pick(rng, m.entries.size()))],
                      m.entries[static_cast<size_t>(pick(rng, m.entries.size()))]);
        break;
    default:
        m.chunkSize = pick(rng, 2) ? 0x200u << pick(rng, 4) : 0x40u << pick(rng, 4);
        break;
    }
}

// Drops an object that is neither an LZX stream nor metadata: keeps inputs small and fast.
void dropEntry(Rng& rng, chmcraft::Model& m) {
    if (m.entries.size() < 4)
        return;
    const size_t i = static_cast<size_t>(pick(rng, m.entries.size()));
    if (!m.entries[i].name.startsWith("::"))
        m.entries.erase(m.entries.begin() + static_cast<std::ptrdiff_t>(i));
}

void mutateObjectBytes(Rng& rng, chmcraft::Model& m, const ByteMutator& bytes) {
    chmcraft::Entry* e = randomEntry(rng, m);
    if (!e || e->section != 0 || m.bytesOf(*e).isEmpty())
        return;
    const auto at = static_cast<qsizetype>(e->offset);
    const auto length = static_cast<size_t>(std::min<quint64>(e->length, 4096));
    bytes(reinterpret_cast<uint8_t*>(m.content.data()) + at, length, length);
}

} // namespace

size_t writeFreshLzx(uint8_t* data, size_t size, size_t maxSize, unsigned seed,
                     const ByteMutator& bytes) {
    Rng rng(seed);
    auto model = chmcraft::parse(
        QByteArray(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size)));
    if (!model || !writeSoundLzx(rng, *model))
        return mutateContainer(data, size, maxSize, seed, bytes, Focus::Lzx);
    const QByteArray out = chmcraft::write(*model);
    if (static_cast<size_t>(out.size()) > maxSize)
        return mutateContainer(data, size, maxSize, seed, bytes, Focus::Lzx);
    std::memcpy(data, out.constData(), static_cast<size_t>(out.size()));
    return static_cast<size_t>(out.size());
}

size_t mutateContainer(uint8_t* data, size_t size, size_t maxSize, unsigned seed,
                       const ByteMutator& bytes, Focus focus) {
    Rng rng(seed);
    auto model = chmcraft::parse(
        QByteArray(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size)));
    if (!model || pick(rng, 8) == 0)
        return bytes(data, size, maxSize);
    chmcraft::Model& m = *model;
    const int rounds = 1 + static_cast<int>(pick(rng, 3));
    for (int i = 0; i < rounds; ++i) {
        // The LZX blocks: one round in ten, or half of them with the LZX focus.
        if (pick(rng, focus == Focus::Lzx ? 2 : 10) == 0) {
            if (!mutateLzx(rng, m))
                mutateObjectBytes(rng, m, bytes);
            continue;
        }
        switch (pick(rng, 8)) {
        case 0:
        case 1:
            mutateName(rng, m);
            break;
        case 2:
            mutateEntryFields(rng, m);
            break;
        case 3:
            mutateControlData(rng, m);
            break;
        case 4:
            mutateResetTable(rng, m);
            break;
        case 5:
            mutateLayout(rng, m);
            break;
        case 6:
            dropEntry(rng, m);
            break;
        default:
            mutateObjectBytes(rng, m, bytes);
            break;
        }
    }
    const QByteArray out = chmcraft::write(m);
    if (static_cast<size_t>(out.size()) > maxSize)
        return bytes(data, size, maxSize);
    std::memcpy(data, out.constData(), static_cast<size_t>(out.size()));
    return static_cast<size_t>(out.size());
}

} // namespace fuzz
