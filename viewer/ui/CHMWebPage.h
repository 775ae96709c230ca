// The web page of one tab: it keeps pages of the document inside the document, asks for new
// tabs where a page wants a new window, and hands the page's console.log lines on. It decides;
// the window acts on its signals.
//
// Navigation follows CHMNavigationPolicy. The web engine reports a script's "location = ..."
// as a link click, so the page itself notes each user action its view receives (a click, or
// Enter or Space on the page, or a right click that offers a link's menu): only a link click within
// kUserActionWindowMs of one such action may open an outside URL, and each action opens at most
// one. New windows, as in a browser, need the user's gesture as well: the engine must report the
// request as user-initiated and a noted action must be pending, and each action opens at most
// one tab, so a script calling window.open in a loop opens nothing. New windows arrive through
// newWindowRequested, which carries the URL and whether the user asked for it; createWindow
// declines so that the engine asks that way (it only sends the signal when createWindow
// answers nullptr). The new tab loads the requested URL in a fresh page without an opener: an
// opened page would share its opener's renderer, and a runaway script in it would freeze the
// tab that opened it. Owned by its view. GUI thread only.
#pragma once

#include <QElapsedTimer>
#include <QWebEnginePage>

class QWebEngineNewWindowRequest;

class CHMWebPage : public QWebEnginePage {
    Q_OBJECT
public:
    static constexpr qint64 kUserActionWindowMs = 3000;

    explicit CHMWebPage(QWebEngineProfile* profile, QObject* parent = nullptr);
    ~CHMWebPage() override;

    // A user action (click, Enter, Space, a link's context menu) reached the page's view.
    void noteUserAction();

signals:
    // A line the page wrote with console.log.
    void consoleMessage(const QString& message);
    // The user asked for the itss URL in a new tab (a link with a target, window.open in a
    // click handler, a modifier click).
    void newTabRequested(const QUrl& url);
    // The user clicked a link to the outside (http, https, mailto): for the system to open.
    void openExternallyRequested(const QUrl& url);

protected:
    bool acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame) override;
    QWebEnginePage* createWindow(WebWindowType type) override;
    void javaScriptConsoleMessage(JavaScriptConsoleMessageLevel level, const QString& message,
                                  int lineNumber, const QString& sourceID) override;

private:
    void handleNewWindowRequest(QWebEngineNewWindowRequest& request);
    // Whether a user action is pending; consumes it.
    bool takeUserAction();
    static void logIgnored(const char* what, const QUrl& url);

    QElapsedTimer m_lastUserAction; // invalid while no action is pending
};
