#include "CHMReaderProtocol.h"

#include <QtEndian>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <poll.h>
#include <sched.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

namespace chmreader {

namespace {

void putU16(QByteArray& out, quint16 v) {
    char b[2];
    qToLittleEndian(v, b);
    out.append(b, 2);
}
void putU32(QByteArray& out, quint32 v) {
    char b[4];
    qToLittleEndian(v, b);
    out.append(b, 4);
}
void putU64(QByteArray& out, quint64 v) {
    char b[8];
    qToLittleEndian(v, b);
    out.append(b, 8);
}

// Reads little-endian fields off a payload; every read is bounds-checked.
struct Reader {
    const QByteArray& bytes;
    qsizetype at = 0;
    bool ok = true;
    const uchar* take(qsizetype n) {
        if (!ok || n < 0 || n > bytes.size() - at) {
            ok = false;
            return nullptr;
        }
        const auto* p = reinterpret_cast<const uchar*>(bytes.constData()) + at;
        at += n;
        return p;
    }
    quint8 u8() {
        const uchar* p = take(1);
        return p ? *p : 0;
    }
    quint16 u16() {
        const uchar* p = take(2);
        return p ? qFromLittleEndian<quint16>(p) : 0;
    }
    quint32 u32() {
        const uchar* p = take(4);
        return p ? qFromLittleEndian<quint32>(p) : 0;
    }
    quint64 u64() {
        const uchar* p = take(8);
        return p ? qFromLittleEndian<quint64>(p) : 0;
    }
    bool atEnd() const { return ok && at == bytes.size(); }
};

void putEntry(QByteArray& out, const CHMObjectEntry& e) {
    putU16(out, static_cast<quint16>(e.name.size()));
    out.append(e.name);
    out.append(static_cast<char>(e.section));
    putU64(out, e.offset);
    putU64(out, e.length);
}

std::optional<CHMObjectEntry> takeEntry(Reader& r) {
    CHMObjectEntry e;
    const quint16 nameLength = r.u16();
    if (nameLength == 0 || nameLength > kMaxNameLength)
        return std::nullopt;
    const uchar* name = r.take(nameLength);
    if (!name)
        return std::nullopt;
    e.name = QByteArray(reinterpret_cast<const char*>(name), nameLength);
    e.section = r.u8();
    e.offset = r.u64();
    e.length = r.u64();
    if (!r.ok || e.section > 1)
        return std::nullopt;
    return e;
}

} // namespace

QByteArray encodeObjects(const std::vector<CHMObjectEntry>& objects) {
    QByteArray out;
    putU32(out, static_cast<quint32>(objects.size()));
    for (const CHMObjectEntry& e : objects)
        putEntry(out, e);
    return out;
}

std::optional<std::vector<CHMObjectEntry>> decodeObjects(const QByteArray& payload) {
    Reader r{payload};
    const quint32 count = r.u32();
    // Each entry takes at least 20 bytes: a count the payload cannot hold is a lie.
    if (!r.ok || count > static_cast<quint64>(payload.size()) / 20)
        return std::nullopt;
    std::vector<CHMObjectEntry> objects;
    objects.reserve(count);
    for (quint32 i = 0; i < count; ++i) {
        std::optional<CHMObjectEntry> e = takeEntry(r);
        if (!e)
            return std::nullopt;
        objects.push_back(std::move(*e));
    }
    if (!r.atEnd())
        return std::nullopt;
    return objects;
}

QByteArray encodeEntry(const CHMObjectEntry& entry) {
    QByteArray out;
    putEntry(out, entry);
    return out;
}

std::optional<CHMObjectEntry> decodeEntry(const QByteArray& payload) {
    Reader r{payload};
    std::optional<CHMObjectEntry> e = takeEntry(r);
    if (!e || !r.atEnd())
        return std::nullopt;
    return e;
}

QByteArray encodeEntries(const std::vector<CHMObjectEntry>& entries) {
    QByteArray out;
    putU16(out, static_cast<quint16>(entries.size()));
    for (const CHMObjectEntry& e : entries)
        putEntry(out, e);
    return out;
}

std::optional<std::vector<CHMObjectEntry>> decodeEntries(const QByteArray& payload) {
    Reader r{payload};
    const quint16 count = r.u16();
    if (!r.ok || count == 0 || count > kMaxBatchEntries)
        return std::nullopt;
    std::vector<CHMObjectEntry> entries;
    for (quint16 i = 0; i < count; ++i) {
        std::optional<CHMObjectEntry> e = takeEntry(r);
        if (!e)
            return std::nullopt;
        entries.push_back(std::move(*e));
    }
    if (!r.atEnd())
        return std::nullopt;
    return entries;
}

QByteArray encodeBatch(const std::vector<BatchItem>& items) {
    QByteArray out;
    for (const BatchItem& item : items) {
        out.append(static_cast<char>(item.state));
        if (item.state == BatchItem::Present) {
            putU32(out, static_cast<quint32>(item.bytes.size()));
            out.append(item.bytes);
        }
    }
    return out;
}

std::optional<std::vector<BatchItem>> decodeBatch(const QByteArray& payload, size_t count) {
    Reader r{payload};
    std::vector<BatchItem> items(count);
    for (BatchItem& item : items) {
        const quint8 state = r.u8();
        if (!r.ok || state > BatchItem::NotSent)
            return std::nullopt;
        item.state = static_cast<BatchItem::State>(state);
        if (item.state != BatchItem::Present)
            continue;
        const quint32 length = r.u32();
        if (length == 0 || length > kMaxObjectLength)
            return std::nullopt;
        const uchar* bytes = r.take(static_cast<qsizetype>(length));
        if (!bytes)
            return std::nullopt;
        item.bytes =
            QByteArray(reinterpret_cast<const char*>(bytes), static_cast<qsizetype>(length));
    }
    if (!r.atEnd())
        return std::nullopt;
    return items;
}

QByteArray encodeRange(const Range& range) {
    QByteArray out;
    putU64(out, range.offset);
    putU64(out, range.length);
    out.append(range.path);
    return out;
}

std::optional<Range> decodeRange(const QByteArray& payload) {
    if (payload.size() < 16 || payload.size() - 16 > kMaxPathLength)
        return std::nullopt;
    Range range;
    for (int i = 7; i >= 0; --i) {
        range.offset = (range.offset << 8) | static_cast<quint8>(payload[i]);
        range.length = (range.length << 8) | static_cast<quint8>(payload[8 + i]);
    }
    range.path = payload.mid(16);
    return range;
}

QByteArray encodeFailure(const CHMOpenFailure& failure) {
    QByteArray out(1, static_cast<char>(failure.kind));
    out.append(failure.reason.toUtf8().left(kMaxReasonLength));
    return out;
}

std::optional<CHMOpenFailure> decodeFailure(const QByteArray& payload) {
    if (payload.isEmpty() || payload.size() > 1 + kMaxReasonLength)
        return std::nullopt;
    const auto kind = static_cast<quint8>(payload[0]);
    if (kind < CHMOpenFailure::CannotOpen || kind > CHMOpenFailure::NotCompiledHelp)
        return std::nullopt;
    return CHMOpenFailure{static_cast<CHMOpenFailure::Kind>(kind),
                          QString::fromUtf8(payload.mid(1))};
}

bool Channel::send(Type type, const QByteArray& payload) {
    if (static_cast<quint64>(payload.size()) + 1 > kMaxMessageLength)
        return false;
    char head[5];
    qToLittleEndian(static_cast<quint32>(payload.size() + 1), head);
    head[4] = static_cast<char>(type);
    iovec parts[2] = {
        {head, sizeof head},
        {const_cast<char*>(payload.constData()), static_cast<size_t>(payload.size())}};
    msghdr message{};
    message.msg_iov = parts;
    message.msg_iovlen = 2;
    while (message.msg_iovlen > 0) {
        const ssize_t sent = ::sendmsg(m_fd, &message, MSG_NOSIGNAL);
        if (sent < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        auto left = static_cast<size_t>(sent);
        while (message.msg_iovlen > 0 && left >= message.msg_iov->iov_len) {
            left -= message.msg_iov->iov_len;
            ++message.msg_iov;
            --message.msg_iovlen;
        }
        if (message.msg_iovlen > 0) {
            message.msg_iov->iov_base = static_cast<char*>(message.msg_iov->iov_base) + left;
            message.msg_iov->iov_len -= left;
        }
    }
    return true;
}

namespace {

// What is left of the time until the deadline, for poll: -1 without one, 0 once it has passed.
int remainingMs(const std::optional<std::chrono::steady_clock::time_point>& deadline) {
    if (!deadline)
        return -1;
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(*deadline - std::chrono::steady_clock::now());
    return static_cast<int>(std::clamp<std::chrono::milliseconds::rep>(left.count(), 0, INT_MAX));
}

} // namespace

ssize_t Channel::readSome(char* into, size_t length, const Deadline& deadline) {
    // An answer (or the next request of a walk) mostly comes within microseconds: asking again
    // for a short while spares both sides a sleep and a wake-up, which on a busy machine cost
    // more than the request itself.
    constexpr auto kSpin = std::chrono::microseconds(50);
    const auto spinUntil = std::chrono::steady_clock::now() + kSpin;
    for (;;) {
        const ssize_t got = ::recv(m_fd, into, length, MSG_DONTWAIT);
        if (got >= 0)
            return got;
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK)
            return -1;
        if (std::chrono::steady_clock::now() < spinUntil) {
            // The other side may be waiting for this very processor.
            ::sched_yield();
            continue;
        }
        const int waitMs = remainingMs(deadline);
        if (waitMs == 0)
            return -1;
        pollfd p{m_fd, POLLIN, 0};
        const int ready = ::poll(&p, 1, waitMs);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready < 0)
            return -1;
    }
}

bool Channel::readFully(char* into, size_t length, const Deadline& deadline) {
    constexpr size_t kBufferSize = 64 * 1024;
    while (length > 0) {
        if (m_bufferAt < m_buffer.size()) {
            const size_t take = std::min(length, static_cast<size_t>(m_buffer.size() - m_bufferAt));
            std::memcpy(into, m_buffer.constData() + m_bufferAt, take);
            m_bufferAt += static_cast<qsizetype>(take);
            into += take;
            length -= take;
            continue;
        }
        // A large remainder goes straight to its place; a small one through the buffer, which
        // also takes in what follows it.
        if (length >= kBufferSize) {
            const ssize_t got = readSome(into, length, deadline);
            if (got <= 0)
                return false;
            into += got;
            length -= static_cast<size_t>(got);
            continue;
        }
        m_buffer.resize(kBufferSize);
        m_bufferAt = 0;
        const ssize_t got = readSome(m_buffer.data(), kBufferSize, deadline);
        if (got <= 0) {
            m_buffer.clear();
            return false;
        }
        m_buffer.resize(got);
    }
    return true;
}

std::optional<Message> Channel::receive(quint32 maxLength, int timeoutMs) {
    // One deadline for the whole message: a sender that trickles a byte now and then must not
    // keep the reader waiting for ever.
    Deadline deadline;
    if (timeoutMs >= 0)
        deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    char head[5];
    if (!readFully(head, sizeof head, deadline))
        return std::nullopt;
    const quint32 length = qFromLittleEndian<quint32>(head);
    if (length == 0 || length > maxLength)
        return std::nullopt;
    Message message;
    message.type = static_cast<Type>(head[4]);
    if (length > 1) {
        message.payload.resize(static_cast<qsizetype>(length - 1));
        if (!readFully(message.payload.data(), length - 1, deadline))
            return std::nullopt;
    }
    return message;
}

} // namespace chmreader
