// Large objects handed to the web engine as streams: each reader, reading on a thread of its own
// as the engine does, gets the whole object byte for byte while the book holds a bounded part of
// it, a second reader that comes at once shares the same reads, and a stream whose readers have
// all gone stops reading.
#include "CHMDocument.h"
#include "EventLoopSupport.h"
#include "ITSSObjectStreams.h"
#include "ITSSProtocol.h"
#include "ITSSReplyStream.h"
#include "LargePictureBook.h"
#include "TestDocument.h"
#include "TestSupport.h"

#include <QObject>
#include <QThread>
#include <atomic>
#include <gtest/gtest.h>
#include <thread>

using namespace testsupport;

namespace {

// Reads the device to its end on a thread of its own, as the engine does; `delayMs` between
// reads makes a slow reader.
class EngineReader {
public:
    EngineReader(ITSSReplyStream* device, int delayMs)
        : m_thread([this, device, delayMs] {
              char buffer[64 * 1024];
              while (!device->atEnd()) {
                  const qint64 got = device->read(buffer, sizeof buffer);
                  if (got > 0)
                      m_bytes.append(buffer, static_cast<qsizetype>(got));
                  QThread::msleep(got > 0 ? delayMs : 1);
              }
              m_done = true;
          }) {}
    ~EngineReader() { m_thread.join(); }
    bool done() const { return m_done.load(); }
    // Once done.
    const QByteArray& bytes() const { return m_bytes; }

private:
    QByteArray m_bytes;
    std::atomic<bool> m_done = false;
    std::thread m_thread;
};

} // namespace

TEST(ItssStream, ALargeObjectReachesEveryReaderWholeWithABoundedPartOfItHeld) {
    constexpr qint64 kPictureBytes = 16 << 20;
    coreApplication();
    const QString path = scratchDir() + "/stream.chm";
    ASSERT_TRUE(writeLargePictureBook(path, kPictureBytes, 1));
    const std::unique_ptr<CHMDocument> doc = openDocument(path);
    ASSERT_NE(doc, nullptr);
    const ITSSResponse first =
        ITSSProtocol::startLoading(QUrl("itss://chm/picture.png"), doc.get(), "CP1252", false,
                                   ITSSObjectStreams::kPieceLength);
    ASSERT_TRUE(first.ok && first.hasMore);
    EXPECT_EQ(first.bytes.size(), ITSSObjectStreams::kPieceLength);
    EXPECT_EQ(first.mimeType, "image/png");

    ITSSObjectStreams streams(doc.get());
    QObject fastJob, slowJob, goneJob;
    ITSSReplyStream* fast = streams.open(first.lookupPath, first.bytes, &fastJob);
    ITSSReplyStream* slow = streams.join(first.lookupPath, &slowJob);
    auto* gone = new QObject;
    ASSERT_NE(streams.join(first.lookupPath, gone), nullptr);
    ASSERT_NE(slow, nullptr);
    EXPECT_EQ(streams.streamCount(), 1);
    // A reader that goes after its first piece holds nothing back.
    delete gone;
    qint64 mostHeld = 0;
    {
        const EngineReader fastReader(fast, 0), slowReader(slow, 2);
        EXPECT_TRUE(processEventsUntil([&] {
            mostHeld = std::max(mostHeld, streams.bytesHeld());
            return fastReader.done() && slowReader.done();
        }));
        const QByteArray picture = largePicture(kPictureBytes);
        EXPECT_TRUE(fastReader.bytes() == picture) << fastReader.bytes().size();
        EXPECT_TRUE(slowReader.bytes() == picture) << slowReader.bytes().size();
    }
    EXPECT_LE(mostHeld, ITSSObjectStreams::kBookBudget);
    EXPECT_LE(mostHeld, (ITSSObjectStreams::kPiecesAhead + 2) * ITSSObjectStreams::kPieceLength);

    // A new stream of the object, whose readers go before it is read: it stops.
    ITSSReplyStream* dropped = streams.open(first.lookupPath, first.bytes, &goneJob);
    ASSERT_NE(dropped, nullptr);
    EXPECT_EQ(streams.streamCount(), 2);
    delete dropped;
    EXPECT_TRUE(processEventsUntil([&] { return streams.streamCount() == 1; }));
    EXPECT_FALSE(doc->isDamaged());
}
