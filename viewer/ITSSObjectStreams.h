// The large objects a book's replies are streaming to the web engine (ITSSReplyStream), read a
// piece at a time on the document's request thread, so that what a book has in flight stays
// bounded however large its objects and however many requests ask for them.
//
// A reply of a large object starts with the first piece its request read (kPieceLength bytes);
// the rest is read here, one piece at a time, while the slowest of the stream's readers has
// fewer than kPiecesAhead pieces waiting and while the pieces the book holds in memory stay
// within kBookBudget. Requests for the same object while its stream still holds the object's
// start share that stream: each piece is read once for all of them, and their devices share
// its bytes. A stream keeps what every reader has taken only while it holds fewer than
// kPiecesAhead pieces (the start of a small object stays for late comers); a stream that has
// let its start go takes no new reader, and a later request starts a stream of its own. When
// its last reader is gone the stream stops reading. A piece that cannot be read ends the
// stream there (its devices end short: the book's reading process was lost, or the piece was
// refused), and a stream that ended so takes no new reader.
//
// GUI thread only (the document's thread): the devices tell it what their reader took by a
// queued signal, and the pieces come back through CHMDocument::readInBackground. The document
// must outlive this object.
#pragma once

#include <QObject>
#include <QString>
#include <memory>
#include <vector>

class CHMDocument;
class ITSSReplyStream;

class ITSSObjectStreams : public QObject {
public:
    explicit ITSSObjectStreams(CHMDocument* document, QObject* parent = nullptr);
    ~ITSSObjectStreams() override;

    // A device giving the object at `lookupPath` (a container path) from its start, parented
    // to `owner` (the request): it joins a stream of that object that still holds its start,
    // else starts one from `firstPiece` (the object's first kPieceLength bytes, read by the
    // caller).
    ITSSReplyStream* open(const QString& lookupPath, const QByteArray& firstPiece, QObject* owner);
    // Joins only: null when no stream of the object still holds its start.
    ITSSReplyStream* join(const QString& lookupPath, QObject* owner);

    // For tests and diagnosis: streams with readers, and the bytes of pieces held or being read.
    int streamCount() const { return static_cast<int>(m_streams.size()); }
    qint64 bytesHeld() const { return m_held + m_reading; }

    static constexpr qint64 kPieceLength = 1 << 20;
    static constexpr int kPiecesAhead = 4;
    static constexpr qint64 kBookBudget = 32 << 20;

private:
    struct Stream;
    ITSSReplyStream* addReader(const std::shared_ptr<Stream>& stream, QObject* owner);
    // Reads the stream's next piece when its readers and the budget allow; forgets a stream
    // without readers.
    void pump(const std::shared_ptr<Stream>& stream);
    void pumpAll();
    void pieceRead(const std::shared_ptr<Stream>& stream, const QByteArray& piece, bool failed);
    void remove(const std::shared_ptr<Stream>& stream);

    CHMDocument* m_document;
    std::vector<std::shared_ptr<Stream>> m_streams;
    qint64 m_held = 0;    // bytes of the pieces the streams hold
    qint64 m_reading = 0; // bytes reserved for the pieces being read
};
