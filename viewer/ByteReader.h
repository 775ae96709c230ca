// Bounds-checked little-endian reads from a byte buffer read out of a file. Every accessor
// answers false (and leaves its output alone) rather than read past the end.
#pragma once

#include <QByteArray>
#include <algorithm>
#include <cstdint>

class ByteReader {
public:
    explicit ByteReader(const QByteArray& bytes) : m_data(bytes) {}

    qsizetype size() const { return m_data.size(); }

    bool u16(quint64 at, quint16* out) const { return little(at, 2, out); }
    bool u32(quint64 at, quint32* out) const { return little(at, 4, out); }
    bool u64(quint64 at, quint64* out) const { return little(at, 8, out); }
    bool i32(quint64 at, qint32* out) const {
        quint32 v;
        if (!u32(at, &v))
            return false;
        *out = static_cast<qint32>(v);
        return true;
    }

    // True when [at, at + length) lies inside the buffer; safe against overflow.
    bool contains(quint64 at, quint64 length) const {
        const auto n = static_cast<quint64>(m_data.size());
        return at <= n && length <= n - at;
    }

    // The variable-length integer of the container (7 bits a byte, high bit = more follow).
    // `at` moves past it; false when it runs past `end` or would overflow 64 bits.
    bool encint(quint64* at, quint64 end, quint64* out) const {
        quint64 value = 0;
        for (int i = 0; i < 10; ++i) {
            if (*at >= end || !contains(*at, 1))
                return false;
            const auto byte = static_cast<quint8>(m_data[static_cast<qsizetype>(*at)]);
            ++*at;
            if (value >> 57)
                return false;
            value = (value << 7) | (byte & 0x7F);
            if (!(byte & 0x80)) {
                *out = value;
                return true;
            }
        }
        return false;
    }

    QByteArray mid(quint64 at, quint64 length) const {
        if (!contains(at, length))
            return {};
        return m_data.mid(static_cast<qsizetype>(at), static_cast<qsizetype>(length));
    }

    bool matches(quint64 at, const char* signature, quint64 length) const {
        return contains(at, length) &&
               std::equal(signature, signature + length, m_data.constData() + at);
    }

private:
    template <typename T> bool little(quint64 at, quint64 width, T* out) const {
        if (!contains(at, width))
            return false;
        T v = 0;
        for (quint64 i = 0; i < width; ++i)
            v |= static_cast<T>(static_cast<quint8>(m_data[static_cast<qsizetype>(at + i)]))
                 << (8 * i);
        *out = v;
        return true;
    }

    QByteArray m_data; // shared, not copied
};
