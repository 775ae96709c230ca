#include "ITSSObjectStreams.h"

#include "CHMDocument.h"
#include "ITSSReplyStream.h"

#include <QPointer>
#include <algorithm>
#include <deque>
#include <limits>

struct ITSSObjectStreams::Stream {
    QString path;
    std::deque<QByteArray> held; // the pieces kept, from the object's offset heldFrom on
    qint64 heldFrom = 0;
    qint64 next = 0; // the object's offset read next
    bool reading = false;
    bool ended = false;
    bool failed = false;
    std::vector<QPointer<ITSSReplyStream>> readers;

    qint64 heldBytes() const {
        qint64 bytes = 0;
        for (const QByteArray& piece : held)
            bytes += piece.size();
        return bytes;
    }
    bool hasReaders() {
        std::erase_if(readers, [](const QPointer<ITSSReplyStream>& r) { return r.isNull(); });
        return !readers.empty();
    }
};

ITSSObjectStreams::ITSSObjectStreams(CHMDocument* document, QObject* parent)
    : QObject(parent), m_document(document) {}

ITSSObjectStreams::~ITSSObjectStreams() = default;

ITSSReplyStream* ITSSObjectStreams::open(const QString& lookupPath, const QByteArray& firstPiece,
                                         QObject* owner) {
    if (ITSSReplyStream* joined = join(lookupPath, owner))
        return joined;
    auto stream = std::make_shared<Stream>();
    stream->path = lookupPath;
    stream->held.push_back(firstPiece);
    stream->next = firstPiece.size();
    stream->ended = firstPiece.size() < kPieceLength;
    m_held += firstPiece.size();
    m_streams.push_back(stream);
    ITSSReplyStream* device = addReader(stream, owner);
    pump(stream);
    return device;
}

ITSSReplyStream* ITSSObjectStreams::join(const QString& lookupPath, QObject* owner) {
    for (const std::shared_ptr<Stream>& stream : m_streams) {
        if (stream->path == lookupPath && stream->heldFrom == 0 && !stream->failed &&
            stream->hasReaders())
            return addReader(stream, owner);
    }
    return nullptr;
}

ITSSReplyStream* ITSSObjectStreams::addReader(const std::shared_ptr<Stream>& stream,
                                              QObject* owner) {
    auto* device = new ITSSReplyStream(owner);
    for (const QByteArray& piece : stream->held)
        device->append(piece);
    if (stream->ended)
        device->end();
    stream->readers.emplace_back(device);
    connect(device, &ITSSReplyStream::piecesTaken, this, &ITSSObjectStreams::pumpAll);
    // The request is gone (answered, or cancelled by the engine): its stream may stop.
    connect(device, &QObject::destroyed, this, &ITSSObjectStreams::pumpAll, Qt::QueuedConnection);
    return device;
}

void ITSSObjectStreams::pumpAll() {
    const std::vector<std::shared_ptr<Stream>> streams = m_streams;
    // Those without readers first: what they held is room for the others.
    for (const std::shared_ptr<Stream>& stream : streams) {
        if (!stream->hasReaders())
            remove(stream);
    }
    for (const std::shared_ptr<Stream>& stream : streams)
        pump(stream);
}

void ITSSObjectStreams::pump(const std::shared_ptr<Stream>& stream) {
    if (std::find(m_streams.begin(), m_streams.end(), stream) == m_streams.end())
        return;
    if (!stream->hasReaders()) {
        remove(stream);
        return;
    }
    if (stream->reading || stream->ended)
        return;
    qint64 slowest = std::numeric_limits<qint64>::max();
    for (const QPointer<ITSSReplyStream>& reader : stream->readers)
        slowest = std::min(slowest, reader->taken());
    if (stream->next - slowest >= kPiecesAhead * kPieceLength)
        return;
    // What every reader has taken goes, but a small object's start stays for late comers.
    while (stream->held.size() >= static_cast<size_t>(kPiecesAhead) &&
           stream->heldFrom + stream->held.front().size() <= slowest) {
        stream->heldFrom += stream->held.front().size();
        m_held -= stream->held.front().size();
        stream->held.pop_front();
    }
    // Another stream's progress makes room, and pumps again.
    if (m_held + m_reading + kPieceLength > kBookBudget)
        return;
    stream->reading = true;
    m_reading += kPieceLength;
    const std::weak_ptr<Stream> weak = stream;
    m_document->readInBackground(this,
                                 [this, document = m_document, path = stream->path,
                                  offset = stream->next, weak]() -> std::function<void()> {
                                     QByteArray piece;
                                     bool failed = false;
                                     // A stream whose readers have all gone is not worth the read.
                                     if (!weak.expired()) {
                                         piece =
                                             document->content(path, static_cast<quint64>(offset),
                                                               static_cast<quint64>(kPieceLength));
                                         failed = piece.isEmpty() && document->isDamaged();
                                     }
                                     return [this, weak, piece, failed] {
                                         m_reading -= kPieceLength;
                                         if (const std::shared_ptr<Stream> stream = weak.lock())
                                             pieceRead(stream, piece, failed);
                                         else
                                             pumpAll();
                                     };
                                 });
}

void ITSSObjectStreams::pieceRead(const std::shared_ptr<Stream>& stream, const QByteArray& piece,
                                  bool failed) {
    stream->reading = false;
    if (piece.isEmpty()) {
        // Past the end of the object, unless the listing says it is longer: a piece that could
        // not be read.
        const QByteArray name = stream->path.toUtf8();
        for (const CHMObjectEntry& entry : m_document->objects()) {
            if (entry.name == name && entry.length > static_cast<quint64>(stream->next))
                failed = true;
        }
    } else {
        stream->held.push_back(piece);
        m_held += piece.size();
        stream->next += piece.size();
    }
    stream->ended = piece.size() < kPieceLength;
    stream->failed = failed;
    for (const QPointer<ITSSReplyStream>& reader : stream->readers) {
        if (!reader)
            continue;
        reader->append(piece);
        if (stream->ended)
            reader->end();
    }
    pumpAll();
}

void ITSSObjectStreams::remove(const std::shared_ptr<Stream>& stream) {
    const auto at = std::find(m_streams.begin(), m_streams.end(), stream);
    if (at == m_streams.end())
        return;
    m_held -= stream->heldBytes();
    m_streams.erase(at);
}
