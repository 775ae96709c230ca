#include "CHMFindController.h"

#include "CHMWebView.h"
#include "CHMWebViewController.h"
#include "JavaScriptStringLiteral.h"
#include "ReaderScripts.h"
#include "ResourceLocator.h"

#include <QAction>
#include <QLineEdit>
#include <QPointer>
#include <QWebEnginePage>
#include <QWebEngineScript>

CHMFindController::CHMFindController(CHMTabAccess tabs) : m_tabs(std::move(tabs)) {
    m_highlightScript =
        ResourceLocator::readText(QStringLiteral("highlight.js"), "find in page marks nothing");

    auto make = [this](const QString& text, const QList<QKeySequence>& keys, auto slot) {
        auto* action = new QAction(text, this);
        action->setShortcuts(keys);
        connect(action, &QAction::triggered, this, slot);
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

CHMFindController::~CHMFindController() = default;

QList<QAction*> CHMFindController::actions() const {
    return {m_findAction, m_findNextAction, m_findPreviousAction, m_doneFindAction};
}

void CHMFindController::installInto(QWebEngineProfile& profile) {
    // Ready before the page has finished loading, so a find started meanwhile works; marks are
    // only ever made in the main frame's document.
    if (!m_highlightScript.isNull())
        ReaderScripts::insert(profile, QStringLiteral("Lumeno find in page"), m_highlightScript,
                              false);
}

void CHMFindController::connectFindBar(CHMWebViewController* controller) {
    // The bar's requests concern its own tab, whichever tab is selected when they arrive.
    connect(controller, &CHMWebViewController::findRequested, this,
            [this, controller] { beginFind(controller->webView()); });
    connect(controller, &CHMWebViewController::findInFileRequested, this,
            [this, controller](int segment) { findInFile(segment, controller->webView()); });
    connect(controller, &CHMWebViewController::doneRequested, this,
            [this, controller] { doneFind(controller->webView()); });
}

CHMWebView* CHMFindController::findTarget(CHMWebView* target) const {
    if (target)
        return target;
    CHMWebViewController* controller = m_tabs.current();
    return controller ? controller->webView() : nullptr;
}

void CHMFindController::showFindPanel() {
    if (CHMWebViewController* controller = m_tabs.current())
        controller->showFindPanel();
}

void CHMFindController::stepFind(int segment) {
    if (CHMWebViewController* controller = m_tabs.current())
        controller->requestStep(segment);
}

void CHMFindController::beginFind(CHMWebView* target) {
    CHMWebView* view = findTarget(target);
    CHMWebViewController* controller = view ? m_tabs.controllerOf(view) : nullptr;
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

void CHMFindController::runForTab(
    const QString& script, CHMWebView* view,
    const std::function<void(CHMWebViewController*, const QVariant&)>& onResult) {
    CHMWebViewController* controller = view ? m_tabs.controllerOf(view) : nullptr;
    if (!controller) {
        runJavascript(script, view);
        return;
    }
    const QPointer<CHMWebViewController> guarded(controller);
    const quint64 generation = controller->pageGeneration();
    runJavascript(script, view, [guarded, generation, onResult](const QVariant& result) {
        // A result of the page before the last load speaks of marks that are gone.
        if (guarded && guarded->pageGeneration() == generation)
            onResult(guarded, result);
    });
}

void CHMFindController::highlightString(const QString& text, CHMWebView* target) {
    // A literal, never the text itself: quotes, backslashes or "</script>" in it are looked
    // for as typed and cannot run.
    runForTab(QStringLiteral("highlight(document.body, %1)").arg(javaScriptStringLiteral(text)),
              findTarget(target), [](CHMWebViewController* controller, const QVariant& result) {
                  bool isNumber = false;
                  const int count = result.toInt(&isNumber);
                  if (isNumber)
                      controller->showMatchCount(count);
              });
}

void CHMFindController::removeHighlight(CHMWebView* target) {
    CHMWebView* view = findTarget(target);
    if (CHMWebViewController* controller = view ? m_tabs.controllerOf(view) : nullptr)
        controller->clearMatchStatus();
    // A page without the reader's script (not loaded yet, or failed) has no marks to remove.
    runJavascript(QStringLiteral("if (typeof removeHighlight === 'function') removeHighlight();"),
                  view);
}

void CHMFindController::scrollToHighlight(int direction, CHMWebView* target) {
    runForTab(QStringLiteral("scrollToHighlight(%1)").arg(direction), findTarget(target),
              [](CHMWebViewController* controller, const QVariant& result) {
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

void CHMFindController::findNext(CHMWebView* target) {
    scrollToHighlight(1, target);
}

void CHMFindController::findPrev(CHMWebView* target) {
    scrollToHighlight(-1, target);
}

void CHMFindController::findInFile(int segment, CHMWebView* target) {
    if (segment == 0)
        findPrev(target);
    else
        findNext(target);
}

void CHMFindController::doneFind(CHMWebView* target) {
    CHMWebView* view = findTarget(target);
    CHMWebViewController* controller = view ? m_tabs.controllerOf(view) : nullptr;
    if (!controller)
        return;
    controller->hideFindPanel();
    removeHighlight(view);
}

void CHMFindController::runJavascript(const QString& script, CHMWebView* target,
                                      const std::function<void(const QVariant&)>& callback) {
    CHMWebView* view = findTarget(target);
    if (!view)
        return;
    // The line break keeps a script that ends in a // comment from swallowing the wrapper.
    const QString wrapped = QStringLiteral("try{ ") + script +
                            QStringLiteral("\n; } catch(e){console.log(e.toString());}");
    if (!callback) {
        view->page()->runJavaScript(wrapped, QWebEngineScript::ApplicationWorld);
        return;
    }
    // A page being destroyed runs its pending callbacks; by then the window is tearing down its
    // tabs, and the callbacks must not reach into them.
    const QPointer<CHMFindController> self(this);
    view->page()->runJavaScript(wrapped, QWebEngineScript::ApplicationWorld,
                                [self, callback](const QVariant& result) {
                                    if (self && !self->m_isClosing)
                                        callback(result);
                                });
}

void CHMFindController::loadJavascript(CHMWebView* target) {
    // Also injected into every page as it becomes ready; running it again keeps what is there.
    if (!m_highlightScript.isEmpty())
        runJavascript(m_highlightScript, target);
}

void CHMFindController::highlightSearchWords(CHMWebView* view, const QString& words) {
    loadJavascript(view);
    if (words.isEmpty())
        return;
    // The view that loaded, which need not be the selected one (a link opened in a new tab).
    highlightString(words, view);
    findNext(view);
}
