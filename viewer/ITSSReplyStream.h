// What the web engine reads for one request of a large object: a sequential device fed piece by
// piece as the object is read off the GUI thread (ITSSObjectStreams), so that no whole copy of
// the object waits in memory for the engine.
//
// Threads: made, fed (`append`, `end`) and destroyed on the GUI thread; the engine reads it on a
// thread of its own (readData, bytesAvailable, atEnd), so the queue of pieces is guarded by a
// mutex of the device's own, held only while pieces go in or out and never while anything else
// is locked. When the reader has taken a whole piece, `piecesTaken` is emitted on the GUI
// thread (by a queued call), so the feeder knows there is room for more. Unbuffered: QIODevice's
// own buffer would be touched from both threads.
#pragma once

#include <QByteArray>
#include <QIODevice>
#include <atomic>
#include <deque>
#include <mutex>

class ITSSReplyStream : public QIODevice {
    Q_OBJECT
public:
    explicit ITSSReplyStream(QObject* parent = nullptr);
    ~ITSSReplyStream() override;

    // GUI thread: one more piece of the object (never empty), then readyRead.
    void append(const QByteArray& piece);
    // GUI thread: the object ends here (at its end, or where it could no longer be read).
    void end();
    // Any thread: the bytes the reader has taken so far.
    qint64 taken() const { return m_taken.load(); }

    bool isSequential() const override { return true; }
    qint64 bytesAvailable() const override;
    bool atEnd() const override;

signals:
    // The reader has taken at least one more whole piece (GUI thread).
    void piecesTaken();

protected:
    qint64 readData(char* data, qint64 maxSize) override;
    qint64 writeData(const char* data, qint64 maxSize) override;

private:
    mutable std::mutex m_mutex;
    std::deque<QByteArray> m_pieces; // guarded by m_mutex
    qsizetype m_frontAt = 0;         // read so far of the front piece; guarded by m_mutex
    qint64 m_queued = 0;             // bytes in m_pieces not yet read; guarded by m_mutex
    bool m_ended = false;            // guarded by m_mutex
    std::atomic<qint64> m_taken = 0;
};
