// The web page of one tab: it keeps pages of the document inside the document, turns requests
// for new windows into tabs of the document window, and hands the page's console.log lines on.
//
// Navigation follows CHMNavigationPolicy. The web engine reports a script's "location = ..."
// as a link click, so the page itself notes each user action its view receives (a click, or
// Enter or Space on the page): only a link click within kUserActionWindowMs of one such action
// may open an outside URL, and each action opens at most one. New windows arrive through
// newWindowRequested, which carries the URL and whether the user asked for it; createWindow
// declines so that the engine asks that way (it only sends the signal when createWindow
// answers nullptr). The new tab loads the requested URL in a fresh page without an opener: an
// opened page would share its opener's renderer, and a runaway script in it would freeze the
// tab that opened it. Owned by its view; the window outlives it. GUI thread only.
#pragma once

#include <QElapsedTimer>
#include <QPointer>
#include <QWebEnginePage>

class CHMDocumentWindow;
class QWebEngineNewWindowRequest;

class CHMWebPage : public QWebEnginePage {
    Q_OBJECT
public:
    static constexpr qint64 kUserActionWindowMs = 3000;

    CHMWebPage(QWebEngineProfile* profile, CHMDocumentWindow* window, QObject* parent = nullptr);
    ~CHMWebPage() override;

    // A user action (click, Enter, Space) reached the page's view.
    void noteUserAction();

signals:
    // A line the page wrote with console.log.
    void consoleMessage(const QString& message);

protected:
    bool acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame) override;
    QWebEnginePage* createWindow(WebWindowType type) override;
    void javaScriptConsoleMessage(JavaScriptConsoleMessageLevel level, const QString& message,
                                  int lineNumber, const QString& sourceID) override;

private:
    void handleNewWindowRequest(QWebEngineNewWindowRequest& request);
    // Whether a user action is pending; consumes it.
    bool takeUserAction();
    static void openExternally(const QUrl& url);
    static void logIgnored(const char* what, const QUrl& url);

    QPointer<CHMDocumentWindow> m_window;
    QElapsedTimer m_lastUserAction; // invalid while no action is pending
};
