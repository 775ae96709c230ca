#include "CHMWebPage.h"

#include "CHMNavigationPolicy.h"
#include "LumenoLogging.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QLineEdit>
#include <QWebEngineNewWindowRequest>
#include <QWebEngineView>

using Decision = CHMNavigationPolicy::Decision;

CHMWebPage::CHMWebPage(QWebEngineProfile* profile, QObject* parent)
    : QWebEnginePage(profile, parent) {
    connect(this, &QWebEnginePage::newWindowRequested, this, &CHMWebPage::handleNewWindowRequest);
    // A new document starts with dialogs allowed again, as in a browser.
    connect(this, &QWebEnginePage::loadStarted, this, [this] {
        m_dialogsSinceNavigation = 0;
        m_dialogsStopped = false;
    });
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

void CHMWebPage::logIgnored(const char* what, const QUrl& url) {
    // Untrusted text: the URL goes out encoded and shortened, never raw.
    qCWarning(lcPage).noquote() << "ignored" << what << "to"
                                << logSafe(url.toString(QUrl::FullyEncoded));
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
        emit openExternallyRequested(url);
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
    // The engine's own word and a noted action of the user, spent here: one tab per gesture.
    const bool isUserAction = request.isUserInitiated() && takeUserAction();
    switch (CHMNavigationPolicy::forNewWindow(url, isUserAction)) {
    case Decision::Load:
        // A new tab of this document. It loads the URL itself instead of adopting the page the
        // engine made for the request: an adopted page keeps its opener's renderer, so a page
        // whose script never ends would freeze the tab that opened it.
        emit newTabRequested(url);
        return;
    case Decision::OpenExternally:
        emit openExternallyRequested(url);
        return;
    case Decision::Ignore:
        break;
    }
    logIgnored("new window", url);
}

void CHMWebPage::javaScriptConsoleMessage(JavaScriptConsoleMessageLevel level,
                                          const QString& message, int, const QString&) {
    // Pages reach the log through console.log alone (console.info and console.debug are
    // silenced in the page); warnings and errors of page scripts are the page's own business.
    if (level == InfoMessageLevel)
        emit consoleMessage(message);
}

void CHMWebPage::javaScriptAlert(const QUrl&, const QString& message) {
    runDialog(PageDialog::Kind::Alert, message, QString(), nullptr);
}

bool CHMWebPage::javaScriptConfirm(const QUrl&, const QString& message) {
    // The engine asks its "leave this page?" question (a page's beforeunload) the same way; a
    // page whose dialogs were stopped must not keep the user on it by that.
    static const QString leavePage = QCoreApplication::translate(
        "QWebEnginePage",
        "Are you sure you want to leave this page? Changes that you made may not be saved.");
    if (message == leavePage && (m_dialogsStopped || m_dialogsEnded))
        return true;
    return runDialog(PageDialog::Kind::Confirm, message, QString(), nullptr);
}

bool CHMWebPage::javaScriptPrompt(const QUrl&, const QString& message, const QString& defaultValue,
                                  QString* result) {
    return runDialog(PageDialog::Kind::Prompt, message, defaultValue, result);
}

void CHMWebPage::endDialogs() {
    m_dialogsEnded = true;
    if (m_openDialog)
        m_openDialog->reject();
}

bool CHMWebPage::runDialog(PageDialog::Kind kind, const QString& message,
                           const QString& defaultText, QString* result) {
    if (m_dialogsEnded || m_dialogsStopped || m_openDialog)
        return false;
    QWebEngineView* view = QWebEngineView::forPage(this);
    QWidget* parent = view ? view->window() : nullptr;
    // A page with no window on screen (its window closed, waiting to be deleted) asks nobody.
    if (!parent || !parent->isVisible())
        return false;
    ++m_dialogsSinceNavigation;
    auto* dialog = new PageDialog(kind, message, defaultText, m_dialogsSinceNavigation > 1, parent);
    m_openDialog = dialog;
    const QPointer<CHMWebPage> self(this);
    const QPointer<PageDialog> guard(dialog);
    // The engine's event loop for the answer: anything may happen meanwhile, even to this page.
    const bool accepted = dialog->exec() == QDialog::Accepted;
    if (!guard)
        return false;
    const bool stop = dialog->stopRequested();
    const QString text = dialog->field() ? dialog->field()->text() : QString();
    delete dialog;
    if (!self)
        return false;
    m_openDialog = nullptr;
    if (stop)
        m_dialogsStopped = true;
    if (accepted && result)
        *result = text;
    return accepted && !m_dialogsEnded;
}
