// The web engine's side of the "itss" scheme for one document: every request of the document's
// profile is answered by ITSSProtocol from that document, in the document's current encoding.
//
// Owned by the document window, which keeps the document alive for as long as the handler is
// installed. Runs on the GUI thread (the web engine asks there). It also remembers which URLs it
// answered with the reader's own "page missing" page, so the window does not remember such a
// page as the last one read.
#pragma once

#include <QSet>
#include <QString>
#include <QWebEngineUrlSchemeHandler>

class CHMDocument;

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
    static QString key(const QUrl& url);

    CHMDocument* m_document;
    QSet<QString> m_missingPages;
};
