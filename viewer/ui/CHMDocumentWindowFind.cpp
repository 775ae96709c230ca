// Find in page: the find bar of each tab, the marks of "highlight.js" and the scripts that run
// them in the reader's own script world.
#include "CHMDocumentWindow.h"

#include "CHMSidebar.h"
#include "CHMWebView.h"
#include "CHMWebViewController.h"
#include "JavaScriptStringLiteral.h"
#include "ResourceLocator.h"

#include <QAction>
#include <QFile>
#include <QLineEdit>
#include <QPointer>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineScript>
#include <QWebEngineScriptCollection>

void CHMDocumentWindow::installHighlightScript() {
    m_highlightScript =
        ResourceLocator::readText(QStringLiteral("highlight.js"), "find in page marks nothing");
    if (m_highlightScript.isNull())
        return;
    // Ready before the page has finished loading, so a find started meanwhile works; marks are
    // only ever made in the main frame's document.
    insertReaderScript(QStringLiteral("Lumeno find in page"), m_highlightScript, false);
}

void CHMDocumentWindow::setupFindActions() {
    auto make = [this](const QString& text, const QList<QKeySequence>& keys, auto slot) {
        auto* action = new QAction(text, this);
        action->setShortcuts(keys);
        connect(action, &QAction::triggered, this, slot);
        // On the window, so that the shortcuts work with or without a menu bar.
        addAction(action);
        return action;
    };
    m_findAction = make(tr("Find…"), {QKeySequence::Find}, [this] { showFindPanel(); });
    // The menu items step as Return and Shift+Return do in the bar.
    m_findNextAction =
        make(tr("Find Next"), {QKeySequence(QStringLiteral("Ctrl+G")), QKeySequence(Qt::Key_F3)},
             [this] { stepFind(1); });
    m_findPreviousAction = make(
        tr("Find Previous"),
        {QKeySequence(QStringLiteral("Shift+Ctrl+G")), QKeySequence(QStringLiteral("Shift+F3"))},
        [this] { stepFind(0); });
    m_doneFindAction = make(tr("Done Finding"), {}, [this] { doneFind(); });
}

void CHMDocumentWindow::connectFindBar(CHMWebViewController* controller) {
    // The bar's requests concern its own tab, whichever tab is selected when they arrive.
    connect(controller, &CHMWebViewController::findRequested, controller,
            [this, controller] { beginFind(controller->webView()); });
    connect(controller, &CHMWebViewController::findInFileRequested, controller,
            [this, controller](int segment) { findInFile(segment, controller->webView()); });
    connect(controller, &CHMWebViewController::doneRequested, controller,
            [this, controller] { doneFind(controller->webView()); });
}

CHMWebView* CHMDocumentWindow::findTarget(CHMWebView* target) const {
    return target ? target : curWebView();
}

void CHMDocumentWindow::showFindPanel() {
    if (CHMWebViewController* controller = currentController())
        controller->showFindPanel();
}

void CHMDocumentWindow::stepFind(int segment) {
    if (CHMWebViewController* controller = currentController())
        controller->requestStep(segment);
}

void CHMDocumentWindow::beginFind(CHMWebView* target) {
    CHMWebView* view = findTarget(target);
    CHMWebViewController* controller = view ? controllerOf(view) : nullptr;
    if (!controller)
        return;
    const QString text = controller->searchField()->text();
    if (text.isEmpty()) {
        removeHighlight(view);
        return;
    }
    highlightString(text, view);
    findNext(view);
}

void CHMDocumentWindow::highlightString(const QString& text, CHMWebView* target) {
    CHMWebView* view = findTarget(target);
    const QPointer<CHMWebView> guarded(view);
    // A literal, never the text itself: quotes, backslashes or "</script>" in it are looked
    // for as typed and cannot run.
    runJavascript(QStringLiteral("highlight(document.body, %1)").arg(javaScriptStringLiteral(text)),
                  view, [this, guarded](const QVariant& result) {
                      CHMWebViewController* controller = guarded ? controllerOf(guarded) : nullptr;
                      bool isNumber = false;
                      const int count = result.toInt(&isNumber);
                      if (controller && isNumber)
                          controller->showMatchCount(count);
                  });
}

void CHMDocumentWindow::removeHighlight(CHMWebView* target) {
    CHMWebView* view = findTarget(target);
    if (CHMWebViewController* controller = view ? controllerOf(view) : nullptr)
        controller->clearMatchStatus();
    runJavascript(QStringLiteral("removeHighlight();"), view);
}

void CHMDocumentWindow::scrollToHighlight(int direction, CHMWebView* target) {
    CHMWebView* view = findTarget(target);
    const QPointer<CHMWebView> guarded(view);
    runJavascript(QStringLiteral("scrollToHighlight(%1)").arg(direction), view,
                  [this, guarded](const QVariant& result) {
                      CHMWebViewController* controller = guarded ? controllerOf(guarded) : nullptr;
                      if (!controller)
                          return;
                      // "index/count"; anything else means the script did not run.
                      const QStringList parts = result.toString().split(QLatin1Char('/'));
                      bool indexOk = false;
                      bool countOk = false;
                      const int index = parts.value(0).toInt(&indexOk);
                      const int count = parts.value(1).toInt(&countOk);
                      if (parts.size() == 2 && indexOk && countOk)
                          controller->showMatchPosition(index, count);
                      else
                          controller->clearMatchStatus();
                  });
}

void CHMDocumentWindow::findNext(CHMWebView* target) {
    scrollToHighlight(1, target);
}

void CHMDocumentWindow::findPrev(CHMWebView* target) {
    scrollToHighlight(-1, target);
}

void CHMDocumentWindow::findInFile(int segment, CHMWebView* target) {
    if (segment == 0)
        findPrev(target);
    else
        findNext(target);
}

void CHMDocumentWindow::doneFind(CHMWebView* target) {
    CHMWebView* view = findTarget(target);
    CHMWebViewController* controller = view ? controllerOf(view) : nullptr;
    if (!controller)
        return;
    controller->hideFindPanel();
    removeHighlight(view);
}

void CHMDocumentWindow::runJavascript(const QString& script, CHMWebView* target,
                                      const std::function<void(const QVariant&)>& callback) {
    CHMWebView* view = findTarget(target);
    if (!view)
        return;
    // The line break keeps a script that ends in a // comment from swallowing the wrapper.
    const QString wrapped = QStringLiteral("try{ ") + script +
                            QStringLiteral("\n; } catch(e){console.log(e.toString());}");
    if (callback) {
        // A page being destroyed runs its pending callbacks; by then the window is tearing
        // down its tabs, and the callbacks must not reach into them.
        view->page()->runJavaScript(wrapped, QWebEngineScript::ApplicationWorld,
                                    [this, callback](const QVariant& result) {
                                        if (!m_isClosing)
                                            callback(result);
                                    });
    } else
        view->page()->runJavaScript(wrapped, QWebEngineScript::ApplicationWorld);
}

void CHMDocumentWindow::loadJavascript(CHMWebView* target) {
    // Also injected into every page as it becomes ready; running it again keeps what is there.
    if (!m_highlightScript.isEmpty())
        runJavascript(m_highlightScript, target);
}

void CHMDocumentWindow::highlightSearchWordsHook(CHMWebView* view) {
    loadJavascript(view);
    const QString words = m_sidebar ? m_sidebar->searchField()->text() : QString();
    if (words.isEmpty())
        return;
    // The view that loaded, which need not be the selected one (a link opened in a new tab).
    highlightString(words, view);
    findNext(view);
}
