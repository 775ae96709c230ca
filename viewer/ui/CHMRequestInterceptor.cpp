#include "CHMRequestInterceptor.h"

#include "LumenoLogging.h"

#include <QWebEngineUrlRequestInfo>

bool CHMRequestInterceptor::isAllowed(const QUrl& url) {
    const QString scheme = url.scheme();
    return scheme == QLatin1String("itss") || scheme == QLatin1String("http") ||
           scheme == QLatin1String("https") || scheme == QLatin1String("data") ||
           scheme == QLatin1String("blob");
}

void CHMRequestInterceptor::interceptRequest(QWebEngineUrlRequestInfo& info) {
    if (isAllowed(info.requestUrl()))
        return;
    info.block(true);
    qCWarning(lcPage).noquote() << "blocked a page's request for"
                                << logSafe(info.requestUrl().toString(QUrl::FullyEncoded));
}
