// The messages between the reader and a book's reading process (tools/chmreader), over one end
// of a stream socket pair each.
//
// A message is a little-endian u32 length, then that many bytes: a one-byte type and its
// payload. The process speaks first (Opened or Refused), then answers each request of the
// reader with exactly one message, one request at a time. Each side bounds every length the
// other sends before it allocates: the reader treats the process's answers as untrusted, since
// the process runs chmlib on a hostile file; a message that breaks the rules means the process
// is no longer fit to answer.
#pragma once

#include "CHMContainerLayout.h"
#include "CHMOpenFailure.h"

#include <QByteArray>
#include <QString>
#include <chrono>
#include <optional>
#include <vector>

namespace chmreader {

enum class Type : quint8 {
    // process -> reader
    Opened = 1,  // the object list: u32 count, then per entry u16 name length, name, u8 section,
                 // u64 offset, u64 length
    Refused = 2, // u8 CHMOpenFailure::Kind, then the reason in UTF-8
    Object = 3,  // an object's bytes (never empty)
    Missing = 4, // no such object, or it cannot be read
    Yes = 5,     // answers Exist
    No = 6,
    Objects = 7, // answers ContentOfEntries: per entry asked, in order, u8 state (0 missing,
                 // 1 present, 2 not sent), and when present u32 length and the bytes
    // reader -> process
    Content = 16,        // a path in UTF-8
    Exist = 17,          // a path in UTF-8
    ContentOfEntry = 18, // one entry, encoded as in Opened
    // u16 count, then that many entries: the first is wanted now, the others are what a walk in
    // storage order reads next. The process may leave those out ("not sent") past a budget.
    ContentOfEntries = 19,
    ContentRange = 20, // u64 offset, u64 length, then a path in UTF-8: part of an object
};

// The largest object the process may send.
constexpr quint64 kMaxObjectLength = 256ull << 20;
// The longest path a request carries; chmlib's names are at most 512 bytes, so a longer path
// names no object.
constexpr qsizetype kMaxPathLength = 4096;
constexpr qsizetype kMaxNameLength = 512;
constexpr qsizetype kMaxReasonLength = 1024;
// The most entries one ContentOfEntries asks for, and the most bytes the process sends for the
// entries after the first.
constexpr int kMaxBatchEntries = 64;
constexpr qsizetype kMaxReadAheadBytes = 4 << 20;
// The largest request: a full batch of entries with the longest names.
constexpr quint32 kMaxRequestLength = 1 + 2 + kMaxBatchEntries * (2 + kMaxNameLength + 1 + 8 + 8);
// The largest message at all: a batch of the largest object and a full read-ahead.
constexpr quint32 kMaxMessageLength =
    static_cast<quint32>(kMaxObjectLength + kMaxReadAheadBytes + 5 * kMaxBatchEntries + 1);

struct Message {
    Type type{};
    QByteArray payload;
};

QByteArray encodeObjects(const std::vector<CHMObjectEntry>& objects);
// Null when the payload is not exactly a well-formed list.
std::optional<std::vector<CHMObjectEntry>> decodeObjects(const QByteArray& payload);
QByteArray encodeEntry(const CHMObjectEntry& entry);
std::optional<CHMObjectEntry> decodeEntry(const QByteArray& payload);
QByteArray encodeEntries(const std::vector<CHMObjectEntry>& entries);
// Null unless 1 to kMaxBatchEntries well-formed entries fill the payload exactly.
std::optional<std::vector<CHMObjectEntry>> decodeEntries(const QByteArray& payload);

// One answer of an Objects message.
struct BatchItem {
    enum State : quint8 { Missing = 0, Present = 1, NotSent = 2 };
    State state = NotSent;
    QByteArray bytes;
};
QByteArray encodeBatch(const std::vector<BatchItem>& items);
// Null unless exactly `count` items fill the payload, each present one of 1 to
// kMaxObjectLength bytes.
std::optional<std::vector<BatchItem>> decodeBatch(const QByteArray& payload, size_t count);

// A ContentRange request, and back (null unless the payload holds both numbers and a path).
struct Range {
    quint64 offset = 0;
    quint64 length = 0;
    QByteArray path;
};
QByteArray encodeRange(const Range& range);
std::optional<Range> decodeRange(const QByteArray& payload);

QByteArray encodeFailure(const CHMOpenFailure& failure);
std::optional<CHMOpenFailure> decodeFailure(const QByteArray& payload);

// One end of the socket. Blocking; never raises SIGPIPE.
class Channel {
public:
    explicit Channel(int fd) : m_fd(fd) {}
    int fd() const { return m_fd; }
    // False when the other end is gone.
    bool send(Type type, const QByteArray& payload = {});
    // The next message, or null when the other end is gone, has not sent the whole message
    // within `timeoutMs` of the call (-1: no limit; one limit for the whole message, however
    // it trickles in) or sent a length over `maxLength`.
    std::optional<Message> receive(quint32 maxLength, int timeoutMs = -1);

private:
    using Deadline = std::optional<std::chrono::steady_clock::time_point>;
    bool readFully(char* into, size_t length, const Deadline& deadline);
    // One read of whatever has arrived, into `into`; waits (until the deadline) only when
    // nothing has.
    ssize_t readSome(char* into, size_t length, const Deadline& deadline);
    int m_fd;
    // What arrived beyond the message being read: a small answer and the head of the next come
    // in one read, not one per field.
    QByteArray m_buffer;
    qsizetype m_bufferAt = 0;
};

} // namespace chmreader
