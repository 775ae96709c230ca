// Keeps a document's pages away from local files: every request of the document's web profile
// passes here, and only schemes that cannot name anything on this machine go through.
//
// "itss" must be registered as a local scheme, and the engine then lets such pages read file:
// URLs by image, script or XMLHttpRequest unless LocalContentCanAccessFileUrls is off, which in
// turn stops them from loading their own style sheets and images (measured with Qt 6.4). So the
// local files are closed here instead. Allowed: itss, http, https, data, blob; anything else
// (file:, qrc:, ftp:, ...) is blocked and logged. Navigations are decided earlier, by
// CHMWebPage; this is the floor beneath them. Called on the GUI thread by the web engine.
#pragma once

#include <QUrl>
#include <QWebEngineUrlRequestInterceptor>

class CHMRequestInterceptor : public QWebEngineUrlRequestInterceptor {
    Q_OBJECT
public:
    using QWebEngineUrlRequestInterceptor::QWebEngineUrlRequestInterceptor;

    void interceptRequest(QWebEngineUrlRequestInfo& info) override;

    static bool isAllowed(const QUrl& url);
};
