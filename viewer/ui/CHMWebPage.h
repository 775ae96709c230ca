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
// tab that opened it.
//
// alert(), confirm() and prompt() show a PageDialog over the page's window. From a page's second
// dialog on the user may stop its dialogs; until the page navigates, further ones then answer
// at once (confirm and prompt as cancelled). The engine waits for a dialog in an event loop run
// inside this page's code, so the page must outlive it: endDialogs() closes the open one and
// stops the rest, and a window that closes waits until isShowingDialog() turns false.
// Owned by its view. GUI thread only.
#pragma once

#include "PageDialog.h"

#include <QElapsedTimer>
#include <QPointer>
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

    // The page's dialog now open; nullptr when none is.
    PageDialog* openDialog() const { return m_openDialog; }
    bool isShowingDialog() const { return m_openDialog != nullptr; }
    // Closes the open dialog as cancelled and answers every later one at once, for good: the
    // page is going away.
    void endDialogs();

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
    void javaScriptAlert(const QUrl& securityOrigin, const QString& message) override;
    bool javaScriptConfirm(const QUrl& securityOrigin, const QString& message) override;
    bool javaScriptPrompt(const QUrl& securityOrigin, const QString& message,
                          const QString& defaultValue, QString* result) override;

private:
    void handleNewWindowRequest(QWebEngineNewWindowRequest& request);
    // Whether a user action is pending; consumes it.
    bool takeUserAction();
    static void logIgnored(const char* what, const QUrl& url);
    // Shows the dialog and waits; true when the user accepted it (the field's text in result).
    bool runDialog(PageDialog::Kind kind, const QString& message, const QString& defaultText,
                   QString* result);

    QElapsedTimer m_lastUserAction; // invalid while no action is pending
    QPointer<PageDialog> m_openDialog;
    int m_dialogsSinceNavigation = 0;
    bool m_dialogsStopped = false; // by the user, until the page navigates
    bool m_dialogsEnded = false;   // for good
};
