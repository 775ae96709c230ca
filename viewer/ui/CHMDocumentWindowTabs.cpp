// The window's tabs: making, closing and selecting them, their labels, and the tabs that pages
// open.
#include "CHMDocumentWindow.h"

#include "CHMDocument.h"
#include "CHMDocumentWindowSupport.h"
#include "CHMFilePreferences.h"
#include "CHMFindController.h"
#include "CHMTableOfContent.h"
#include "CHMWebPage.h"
#include "CHMWebView.h"
#include "CHMWebViewController.h"
#include "LinkItem.h"
#include "LumenoLogging.h"
#include "ZoomLevels.h"

#include <QFontMetrics>
#include <QPointer>
#include <QTabBar>
#include <QTabWidget>
#include <QToolButton>
#include <utility>

using documentwindow::kZoomFactorKey;
using documentwindow::tocItemForUrl;

namespace {

// Tab labels longer than this are shortened in the tab bar; the tooltip keeps the whole.
constexpr int kMaxTabLabelWidth = 220;

} // namespace

CHMTabAccess CHMDocumentWindow::tabAccess() {
    return {[this] { return currentController(); },
            [this](const CHMWebView* view) { return controllerOf(view); },
            [this] {
                QList<CHMWebViewController*> controllers;
                for (int i = 0; i < tabCount(); ++i)
                    controllers << controllerAt(i);
                return controllers;
            }};
}

void CHMDocumentWindow::labelTabsFromContents() {
    // Pages that loaded before the contents arrived were named by their titles.
    const CHMTableOfContent* toc = m_document->tocSource().get();
    for (int i = 0; toc && i < tabCount(); ++i) {
        CHMWebViewController* controller = controllerAt(i);
        const CHMWebView* view = controller ? controller->webView() : nullptr;
        if (!view || view->url().isEmpty() || view->page()->isLoading())
            continue;
        const LinkItem* item = tocItemForUrl(toc, view->url());
        if (item && !item->name().isEmpty())
            setTabLabel(controller, item->name());
    }
}

void CHMDocumentWindow::setupTabBar() {
    m_docTabView->setDocumentMode(true);
    m_docTabView->setTabsClosable(true);
    m_docTabView->setMovable(true);
    m_docTabView->setUsesScrollButtons(true);
    m_docTabView->setElideMode(Qt::ElideRight);
    m_docTabView->tabBar()->setExpanding(false);
    auto* addButton = new QToolButton(m_docTabView);
    addButton->setDefaultAction(m_newTabAction);
    addButton->setAutoRaise(true);
    addButton->setToolButtonStyle(Qt::ToolButtonIconOnly);
    addButton->setObjectName(QStringLiteral("addTabButton"));
    m_docTabView->setCornerWidget(addButton, Qt::TopRightCorner);
    connect(m_docTabView, &QTabWidget::tabCloseRequested, this, &CHMDocumentWindow::closeTabAt);
    connect(m_docTabView, &QTabWidget::currentChanged, this, &CHMDocumentWindow::tabDidSelect);
}

bool CHMDocumentWindow::endPageDialogs() {
    bool open = false;
    for (int i = 0; i < tabCount(); ++i) {
        CHMWebViewController* controller = controllerAt(i);
        CHMWebPage* page = controller ? controller->webView()->chmPage() : nullptr;
        if (!page)
            continue;
        // Every page, not only those showing a dialog now: a page between two alerts of a
        // loop must not open the next over a closed window.
        open = page->isShowingDialog() || open;
        page->endDialogs();
    }
    return open;
}

int CHMDocumentWindow::tabCount() const {
    return m_docTabView ? m_docTabView->count() : 0;
}

CHMWebViewController* CHMDocumentWindow::controllerAt(int index) const {
    return m_docTabView ? qobject_cast<CHMWebViewController*>(m_docTabView->widget(index))
                        : nullptr;
}

CHMWebViewController* CHMDocumentWindow::currentController() const {
    return m_docTabView ? qobject_cast<CHMWebViewController*>(m_docTabView->currentWidget())
                        : nullptr;
}

CHMWebView* CHMDocumentWindow::curWebView() const {
    CHMWebViewController* controller = currentController();
    return controller ? controller->webView() : nullptr;
}

CHMWebViewController* CHMDocumentWindow::controllerOf(const CHMWebView* view) const {
    for (int i = 0; i < tabCount(); ++i) {
        CHMWebViewController* controller = controllerAt(i);
        if (controller && controller->webView() == view)
            return controller;
    }
    return nullptr;
}

void CHMDocumentWindow::openTabForPage(const QUrl& url) {
    m_tabsOpenedByPages.removeAll(nullptr);
    if (m_tabsOpenedByPages.size() >= kMaxTabsOpenedByPages) {
        qCWarning(lcWindow) << "a page asked for another tab while" << kMaxTabsOpenedByPages
                            << "tabs opened by pages are open; refused";
        return;
    }
    // Shown at once, as the engine would show a window.
    CHMWebViewController* controller = createWebViewInTab();
    m_tabsOpenedByPages << controller;
    controller->webView()->load(url);
    showWebView(controller->webView());
}

CHMWebViewController* CHMDocumentWindow::createWebViewInTab() {
    // A tab asked for before the first one (Ctrl+T at once) comes after it.
    if (!m_webContentStarted)
        startWebContent();
    auto* controller = new CHMWebViewController();
    CHMWebView* view = controller->webView();
    auto* page = new CHMWebPage(profile(), view);
    view->setPage(page);
    if (const QUrl first = std::exchange(m_firstURL, QUrl()); first.isValid()) {
        view->load(first);
        qCDebug(lcStartup) << "first page requested";
    }

    const QPointer<CHMWebView> guardedView(view);
    connect(page, &QWebEnginePage::loadFinished, this, [this, guardedView](bool ok) {
        if (guardedView)
            webViewDidFinishLoad(guardedView, ok);
    });
    // Same-page moves (anchors) change the history without a load, and may reach another
    // contents entry.
    connect(page, &QWebEnginePage::urlChanged, this, [this, guardedView] {
        if (!guardedView || guardedView->page()->isLoading())
            return;
        // The tab takes the name of the entry it moved to; a move to an anchor that has no
        // entry of its own keeps the page's name.
        const LinkItem* item = tocItemForUrl(m_document->tocSource().get(), guardedView->url());
        CHMWebViewController* controller = controllerOf(guardedView);
        if (controller && item && !item->name().isEmpty())
            setTabLabel(controller, item->name());
        if (guardedView == curWebView()) {
            updateHistoryButton();
            locateTOC();
        }
    });
    connect(page, &CHMWebPage::consoleMessage, this, &CHMDocumentWindow::consoleMessage);
    connect(page, &QWebEnginePage::renderProcessTerminated, controller,
            &CHMWebViewController::showRendererEnded);
    connect(page, &CHMWebPage::newTabRequested, this, &CHMDocumentWindow::openTabForPage);
    connect(page, &CHMWebPage::openExternallyRequested, this, &CHMDocumentWindow::openExternalUrl);
    connect(view, &CHMWebView::pageDownRequested, this, &CHMDocumentWindow::gotoPageDown);
    connect(view, &CHMWebView::pageUpRequested, this, &CHMDocumentWindow::gotoPageUp);
    m_find->connectFindBar(controller);

    const double zoom = CHMFilePreferences::globalDefault(kZoomFactorKey).toDouble();
    if (zoom != 0.0)
        view->setZoomFactor(ZoomLevels::sanitized(zoom));

    m_docTabView->addTab(controller, QString());
    setTabLabel(controller, untitledLabel());
    updateCloseButtons();
    return controller;
}

CHMWebViewController* CHMDocumentWindow::addNewTab() {
    CHMWebViewController* controller = createWebViewInTab();
    m_docTabView->setCurrentWidget(controller);
    return controller;
}

void CHMDocumentWindow::closeTab() {
    closeTabAt(m_docTabView->currentIndex());
}

void CHMDocumentWindow::closeTabAt(int index) {
    if (tabCount() < 2) {
        close();
        return;
    }
    QWidget* controller = m_docTabView->widget(index);
    if (!controller)
        return;
    m_docTabView->removeTab(index);
    // The tab may be closing from inside one of its own page's signals.
    controller->deleteLater();
    updateCloseButtons();
}

void CHMDocumentWindow::showWebView(CHMWebView* view) {
    if (CHMWebViewController* controller = controllerOf(view))
        m_docTabView->setCurrentWidget(controller);
}

void CHMDocumentWindow::selectFirstWebViewTabItem() {
    if (tabCount() > 0)
        m_docTabView->setCurrentIndex(0);
}

void CHMDocumentWindow::selectPreviousWebViewTabItem() {
    if (tabCount() > 1)
        m_docTabView->setCurrentIndex((m_docTabView->currentIndex() + tabCount() - 1) % tabCount());
}

void CHMDocumentWindow::selectNextWebViewTabItem() {
    if (tabCount() > 1)
        m_docTabView->setCurrentIndex((m_docTabView->currentIndex() + 1) % tabCount());
}

void CHMDocumentWindow::selectLastWebViewTabItem() {
    if (tabCount() > 0)
        m_docTabView->setCurrentIndex(tabCount() - 1);
}

void CHMDocumentWindow::tabDidSelect(int index) {
    if (index < 0)
        return;
    after_zoom();
    updateHistoryButton();
    // The contents follow the selected tab, so paging goes on from that tab's page.
    locateTOC();
}

QString CHMDocumentWindow::pageTitle(const CHMWebView* view) const {
    const QString title = view->title().trimmed();
    if (title.isEmpty())
        return {};
    // The engine answers the URL when a page has no title of its own.
    const QUrl url = view->url();
    const QUrl asUrl(title, QUrl::TolerantMode);
    if (asUrl == url || asUrl == url.adjusted(QUrl::RemoveFragment) ||
        title == url.toDisplayString() || title == url.toString())
        return {};
    return title;
}

void CHMDocumentWindow::setTabLabel(CHMWebViewController* controller, const QString& label) {
    controller->setTitle(label);
    const int index = m_docTabView->indexOf(controller);
    if (index < 0)
        return;
    const QFontMetrics metrics(m_docTabView->tabBar()->font());
    QString shown = metrics.elidedText(label, Qt::ElideRight, kMaxTabLabelWidth);
    // A single "&" would become a keyboard mnemonic and vanish from the label.
    shown.replace(QLatin1Char('&'), QStringLiteral("&&"));
    m_docTabView->setTabText(index, shown);
    m_docTabView->setTabToolTip(index, label);
}

void CHMDocumentWindow::updateCloseButtons() {
    // The only tab has no close button: closing it would close the window.
    QTabBar* bar = m_docTabView->tabBar();
    const bool closable = bar->count() > 1;
    for (int i = 0; i < bar->count(); ++i) {
        for (auto side : {QTabBar::LeftSide, QTabBar::RightSide}) {
            if (QWidget* button = bar->tabButton(i, side))
                button->setVisible(closable);
        }
    }
}
