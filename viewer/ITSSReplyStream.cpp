#include "ITSSReplyStream.h"

#include <QMetaObject>
#include <algorithm>
#include <cstring>

ITSSReplyStream::ITSSReplyStream(QObject* parent) : QIODevice(parent) {
    open(QIODevice::ReadOnly | QIODevice::Unbuffered);
}

ITSSReplyStream::~ITSSReplyStream() = default;

void ITSSReplyStream::append(const QByteArray& piece) {
    if (piece.isEmpty())
        return;
    {
        std::lock_guard guard(m_mutex);
        if (m_ended)
            return;
        m_pieces.push_back(piece);
        m_queued += piece.size();
    }
    emit readyRead();
}

void ITSSReplyStream::end() {
    {
        std::lock_guard guard(m_mutex);
        if (m_ended)
            return;
        m_ended = true;
    }
    // The reader learns of the end when it next finds nothing to read: wake it for that.
    emit readyRead();
    emit readChannelFinished();
}

qint64 ITSSReplyStream::bytesAvailable() const {
    std::lock_guard guard(m_mutex);
    return m_queued;
}

bool ITSSReplyStream::atEnd() const {
    std::lock_guard guard(m_mutex);
    return m_ended && m_queued == 0;
}

qint64 ITSSReplyStream::readData(char* data, qint64 maxSize) {
    qint64 copied = 0;
    bool tookPiece = false;
    bool ended = false;
    {
        std::lock_guard guard(m_mutex);
        while (copied < maxSize && !m_pieces.empty()) {
            const QByteArray& front = m_pieces.front();
            const qint64 n = std::min<qint64>(maxSize - copied, front.size() - m_frontAt);
            std::memcpy(data + copied, front.constData() + m_frontAt, static_cast<size_t>(n));
            copied += n;
            m_frontAt += n;
            m_queued -= n;
            if (m_frontAt == front.size()) {
                m_pieces.pop_front();
                m_frontAt = 0;
                tookPiece = true;
            }
        }
        ended = m_ended;
    }
    m_taken += copied;
    // This runs on the engine's thread; the feeder lives on the GUI thread. By name, so that
    // nothing made here is read there but Qt's own event.
    if (tookPiece)
        QMetaObject::invokeMethod(this, "piecesTaken", Qt::QueuedConnection);
    if (copied == 0 && ended)
        return -1;
    return copied;
}

qint64 ITSSReplyStream::writeData(const char*, qint64) {
    return -1;
}
