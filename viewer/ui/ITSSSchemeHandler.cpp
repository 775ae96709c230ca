#include "ITSSSchemeHandler.h"

#include "CHMDocument.h"
#include "ITSSProtocol.h"
#include "LumenoLogging.h"

#include <QBuffer>
#include <QWebEngineUrlRequestJob>
#include <QWebEngineUrlScheme>

namespace {

// Enough for every tab of a window; the set is cleared beyond it rather than grown for ever.
constexpr qsizetype kMaxRememberedMissingPages = 256;

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
    : QWebEngineUrlSchemeHandler(parent), m_document(document) {}

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
    const ITSSResponse response =
        ITSSProtocol::startLoading(url, m_document, m_document->currentEncodingName(),
                                   !m_document->customizedEncodingName().isEmpty());
    if (!response.ok) {
        job->fail(QWebEngineUrlRequestJob::UrlNotFound);
        return;
    }
    if (response.isMissingPage) {
        if (m_missingPages.size() >= kMaxRememberedMissingPages)
            m_missingPages.clear();
        m_missingPages.insert(key(url));
    } else {
        m_missingPages.remove(key(url));
    }
    QByteArray contentType = response.mimeType;
    if (!response.charset.isEmpty())
        contentType += ";charset=" + response.charset;
    auto* buffer = new QBuffer(job);
    buffer->setData(response.bytes);
    buffer->open(QIODevice::ReadOnly);
    job->reply(contentType, buffer);
    qCDebug(lcStartup) << "served" << logSafe(url.path());
}

bool ITSSSchemeHandler::servedMissingPage(const QUrl& url) const {
    return m_missingPages.contains(key(url));
}
