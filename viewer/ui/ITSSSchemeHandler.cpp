#include "ITSSSchemeHandler.h"

#include "CHMDocument.h"
#include "ITSSObjectStreams.h"
#include "ITSSProtocol.h"
#include "ITSSReplyStream.h"
#include "LumenoLogging.h"

#include <QBuffer>
#include <QWebEngineUrlRequestJob>
#include <QWebEngineUrlScheme>
#include <atomic>

namespace {

// Enough for every tab of a window; the set is cleared beyond it rather than grown for ever.
constexpr qsizetype kMaxRememberedMissingPages = 256;
constexpr qsizetype kMaxRememberedStreams = 256;

QByteArray contentTypeOf(const ITSSResponse& response) {
    QByteArray contentType = response.mimeType;
    if (!response.charset.isEmpty())
        contentType += ";charset=" + response.charset;
    return contentType;
}

} // namespace

void ITSSSchemeHandler::registerScheme() {
    // Host syntax keeps origins and ".." resolution as for http. Not LocalAccessAllowed: the
    // pages must not reach file: URLs.
    QWebEngineUrlScheme scheme("itss");
    scheme.setSyntax(QWebEngineUrlScheme::Syntax::Host);
    scheme.setFlags(QWebEngineUrlScheme::SecureScheme | QWebEngineUrlScheme::LocalScheme |
                    QWebEngineUrlScheme::CorsEnabled);
    QWebEngineUrlScheme::registerScheme(scheme);
}

ITSSSchemeHandler::ITSSSchemeHandler(CHMDocument* document, QObject* parent)
    : QWebEngineUrlSchemeHandler(parent), m_document(document),
      m_streams(document ? std::make_unique<ITSSObjectStreams>(document) : nullptr) {}

ITSSSchemeHandler::~ITSSSchemeHandler() = default;

QString ITSSSchemeHandler::key(const QUrl& url) {
    return url.adjusted(QUrl::RemoveFragment).toString(QUrl::FullyEncoded);
}

void ITSSSchemeHandler::requestStarted(QWebEngineUrlRequestJob* job) {
    const QUrl url = job->requestUrl();
    if (!m_document) {
        job->fail(QWebEngineUrlRequestJob::UrlNotFound);
        return;
    }
    // The encoding is read when the request starts, so a reload after the user picks another
    // encoding is served in it.
    const QString encoding = m_document->currentEncodingName();
    const bool userChosen = !m_document->customizedEncodingName().isEmpty();
    const QString request = ITSSProtocol::requestedPath(url) + QChar(u'\0') + encoding +
                            QChar(u'\0') + (userChosen ? u'u' : u'a');

    // The same object on its way already: this request takes the same answer.
    const auto waiting = m_waiting.find(request);
    if (waiting != m_waiting.end()) {
        waiting->jobs.emplace_back(job);
        connect(job, &QObject::destroyed, this, [this, request] { jobGone(request); });
        return;
    }
    const auto streamed = m_streamed.constFind(request);
    if (streamed != m_streamed.cend()) {
        if (ITSSReplyStream* device = m_streams->join(streamed->lookupPath, job)) {
            m_missingPages.remove(key(url));
            job->reply(streamed->contentType, device);
            return;
        }
        m_streamed.erase(streamed);
    }

    Waiting& entry = m_waiting[request];
    entry.jobs.emplace_back(job);
    connect(job, &QObject::destroyed, this, [this, request] { jobGone(request); });
    m_document->readInBackground(
        this,
        [this, document = m_document, url, encoding, userChosen, request,
         wanted = entry.wanted]() -> std::function<void()> {
            ITSSResponse response;
            if (wanted->load())
                response = ITSSProtocol::startLoading(url, document, encoding, userChosen,
                                                      ITSSObjectStreams::kPieceLength);
            return [this, request, response = std::move(response)] { answer(request, response); };
        });
}

void ITSSSchemeHandler::jobGone(const QString& request) {
    const auto waiting = m_waiting.find(request);
    if (waiting == m_waiting.end())
        return;
    const bool anyLeft = std::any_of(waiting->jobs.begin(), waiting->jobs.end(),
                                     [](const auto& job) { return !job.isNull(); });
    if (!anyLeft)
        waiting->wanted->store(false);
}

void ITSSSchemeHandler::answer(const QString& request, const ITSSResponse& response) {
    const auto waiting = m_waiting.find(request);
    if (waiting == m_waiting.end())
        return;
    const std::vector<QPointer<QWebEngineUrlRequestJob>> jobs = std::move(waiting->jobs);
    m_waiting.erase(waiting);
    bool first = true;
    for (const QPointer<QWebEngineUrlRequestJob>& job : jobs) {
        if (!job)
            continue;
        if (!response.ok) {
            job->fail(QWebEngineUrlRequestJob::UrlNotFound);
            continue;
        }
        QIODevice* device = nullptr;
        if (response.hasMore) {
            device = first ? m_streams->open(response.lookupPath, response.bytes, job)
                           : m_streams->join(response.lookupPath, job);
            if (!device)
                device = m_streams->open(response.lookupPath, response.bytes, job);
            first = false;
        }
        reply(job, response, device);
    }
    if (response.ok && response.hasMore) {
        if (m_streamed.size() >= kMaxRememberedStreams)
            m_streamed.clear();
        m_streamed.insert(request, {response.lookupPath, contentTypeOf(response)});
    }
}

void ITSSSchemeHandler::reply(QWebEngineUrlRequestJob* job, const ITSSResponse& response,
                              QIODevice* device) {
    const QUrl url = job->requestUrl();
    if (response.isMissingPage) {
        if (m_missingPages.size() >= kMaxRememberedMissingPages)
            m_missingPages.clear();
        m_missingPages.insert(key(url));
    } else {
        m_missingPages.remove(key(url));
    }
    if (!device) {
        auto* buffer = new QBuffer(job);
        buffer->setData(response.bytes);
        buffer->open(QIODevice::ReadOnly);
        device = buffer;
    }
    job->reply(contentTypeOf(response), device);
    qCDebug(lcStartup) << "served" << logSafe(url.path());
}

bool ITSSSchemeHandler::servedMissingPage(const QUrl& url) const {
    return m_missingPages.contains(key(url));
}
