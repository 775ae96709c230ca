// The web engine's side of the "itss" scheme for one document: every request of the document's
// profile is answered by ITSSProtocol from that document, in the document's current encoding.
//
// The GUI thread never waits for the book: each request is read on the document's request
// thread (CHMDocument::readInBackground) and answered when its answer arrives, unless the engine
// has dropped the request meanwhile. Requests for the same object (the same container path and
// encoding) while one is on its way wait for that one's answer: the object is read once. An
// object larger than one piece (ITSSObjectStreams::kPieceLength) is handed to the engine as a
// stream, read a piece at a time as the engine takes it, shared by the requests that ask for it
// at once.
//
// Owned by the document window (or the export's profile), which keeps the document alive for
// as long as the handler is installed. Runs on the GUI thread (the web engine asks there). It
// also remembers which URLs it answered with the reader's own "page missing" page, so the
// window does not remember such a page as the last one read.
#pragma once

#include <QHash>
#include <QPointer>
#include <QSet>
#include <QString>
#include <QWebEngineUrlSchemeHandler>
#include <atomic>
#include <memory>
#include <vector>

class CHMDocument;
class ITSSObjectStreams;
struct ITSSResponse;
class QWebEngineUrlRequestJob;

class ITSSSchemeHandler : public QWebEngineUrlSchemeHandler {
    Q_OBJECT
public:
    // Registers the scheme with the web engine; call once in main() before QApplication exists.
    static void registerScheme();

    explicit ITSSSchemeHandler(CHMDocument* document, QObject* parent = nullptr);
    ~ITSSSchemeHandler() override;

    void requestStarted(QWebEngineUrlRequestJob* job) override;

    // Whether the last answer for the URL (fragment ignored) was the "page missing" page.
    bool servedMissingPage(const QUrl& url) const;

private:
    // The requests waiting for one answer.
    struct Waiting {
        std::vector<QPointer<QWebEngineUrlRequestJob>> jobs;
        // Cleared once every job is gone: the answer is then not worth reading.
        std::shared_ptr<std::atomic<bool>> wanted = std::make_shared<std::atomic<bool>>(true);
    };
    // A large object being streamed, for requests that join it.
    struct Streamed {
        QString lookupPath;
        QByteArray contentType;
    };
    static QString key(const QUrl& url);
    void answer(const QString& request, const ITSSResponse& response);
    void reply(QWebEngineUrlRequestJob* job, const ITSSResponse& response, QIODevice* device);
    void jobGone(const QString& request);

    CHMDocument* m_document;
    QSet<QString> m_missingPages;
    std::unique_ptr<ITSSObjectStreams> m_streams;
    QHash<QString, Waiting> m_waiting;   // by request (path and encoding)
    QHash<QString, Streamed> m_streamed; // by request
};
