#include "CHMWebPage.h"

#include "CHMDocumentWindow.h"
#include "CHMNavigationPolicy.h"
#include "CHMWebView.h"
#include "CHMWebViewController.h"

#include <QDesktopServices>
#include <QWebEngineNewWindowRequest>

using Decision = CHMNavigationPolicy::Decision;

CHMWebPage::CHMWebPage(QWebEngineProfile* profile, CHMDocumentWindow* window, QObject* parent)
    : QWebEnginePage(profile, parent), m_window(window) {
    connect(this, &QWebEnginePage::newWindowRequested, this, &CHMWebPage::handleNewWindowRequest);
}

CHMWebPage::~CHMWebPage() = default;

void CHMWebPage::noteUserAction() {
    m_lastUserAction.start();
}

bool CHMWebPage::takeUserAction() {
    const bool pending =
        m_lastUserAction.isValid() && m_lastUserAction.elapsed() <= kUserActionWindowMs;
    m_lastUserAction.invalidate();
    return pending;
}

void CHMWebPage::openExternally(const QUrl& url) {
    QDesktopServices::openUrl(url);
}

void CHMWebPage::logIgnored(const char* what, const QUrl& url) {
    // Untrusted text: the URL goes out encoded and shortened, never raw.
    qWarning("Lumeno+: ignored %s to %s", what,
             qPrintable(url.toString(QUrl::FullyEncoded).left(200)));
}

bool CHMWebPage::acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame) {
    const bool isLinkClick = type == NavigationTypeLinkClicked;
    // A main-frame link click spends the user's action, whatever its target: the click that
    // followed an itss link cannot also carry a script's later move to the outside.
    const bool isUserAction = isLinkClick && isMainFrame && takeUserAction();
    switch (CHMNavigationPolicy::forNavigation(url, isLinkClick, isMainFrame, isUserAction)) {
    case Decision::Load:
        return true;
    case Decision::OpenExternally:
        openExternally(url);
        return false;
    case Decision::Ignore:
        break;
    }
    logIgnored(isMainFrame ? "navigation" : "sub-frame navigation", url);
    return false;
}

QWebEnginePage* CHMWebPage::createWindow(WebWindowType) {
    return nullptr;
}

void CHMWebPage::handleNewWindowRequest(QWebEngineNewWindowRequest& request) {
    const QUrl url = request.requestedUrl();
    switch (CHMNavigationPolicy::forNewWindow(url, request.isUserInitiated())) {
    case Decision::Load:
        if (m_window) {
            // A new tab of this document, shown at once, as the engine would show a window. It
            // loads the URL itself instead of adopting the page the engine made for the request:
            // an adopted page keeps its opener's renderer, so a page whose script never ends
            // would freeze the tab that opened it, even after its own tab is closed.
            CHMWebViewController* controller = m_window->createWebViewInTab();
            controller->webView()->load(url);
            m_window->showWebView(controller->webView());
        }
        return;
    case Decision::OpenExternally:
        openExternally(url);
        return;
    case Decision::Ignore:
        break;
    }
    logIgnored("new window", url);
}

void CHMWebPage::javaScriptConsoleMessage(JavaScriptConsoleMessageLevel level,
                                          const QString& message, int, const QString&) {
    // Pages reach the log through console.log alone; warnings and errors of page scripts are
    // the page's own business.
    if (level == InfoMessageLevel)
        emit consoleMessage(message);
}
