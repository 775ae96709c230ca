#include "CHMDocumentWindow.h"

#include "CHMDocument.h"
#include "CHMFilePreferences.h"
#include "CHMRequestInterceptor.h"
#include "CHMSidebar.h"
#include "CHMTableOfContent.h"
#include "CHMWebPage.h"
#include "CHMWebView.h"
#include "CHMWebViewController.h"
#include "ITSSSchemeHandler.h"
#include "JavaScriptStringLiteral.h"
#include "ResourceLocator.h"
#include "SidebarSplitter.h"
#include "ZoomLevels.h"

#include <QAction>
#include <QFile>
#include <QFileInfo>
#include <QFontMetrics>
#include <QPrintDialog>
#include <QPrinter>
#include <QStyle>
#include <QTabBar>
#include <QTabWidget>
#include <QToolBar>
#include <QToolButton>
#include <QWebEngineHistory>
#include <QWebEngineProfile>
#include <QWebEngineScript>
#include <QWebEngineScriptCollection>
#include <QWebEngineSettings>

namespace {

const QString kLastPathKey = QStringLiteral("last path");
const QString kZoomFactorKey = QStringLiteral("zoom factor");
// Tab labels longer than this are shortened in the tab bar; the tooltip keeps the whole.
constexpr int kMaxTabLabelWidth = 220;

QIcon resourceIcon(const QString& name) {
    const QString path = ResourceLocator::resourcePath(QStringLiteral("icons/") + name);
    return path.isEmpty() ? QIcon() : QIcon(path);
}

} // namespace

QString CHMDocumentWindow::untitledLabel() {
    return tr("(Untitled)");
}

CHMDocumentWindow::CHMDocumentWindow(std::unique_ptr<CHMDocument> document, QWidget* parent)
    : QMainWindow(parent), m_document(std::move(document)) {
    setAttribute(Qt::WA_DeleteOnClose);
    const QString fileName = QFileInfo(m_document->filePath()).fileName();
    setWindowTitle(fileName.isEmpty() ? QStringLiteral("Lumeno+") : fileName);
    resize(1100, 760);

    m_schemeHandler = new ITSSSchemeHandler(m_document.get());
    // A profile without a storage name is off the record: nothing of the file reaches the disk.
    m_profile = new QWebEngineProfile();
    m_profile->installUrlSchemeHandler("itss", m_schemeHandler);
    m_requestInterceptor = new CHMRequestInterceptor();
    m_profile->setUrlRequestInterceptor(m_requestInterceptor);
    QWebEngineSettings* settings = m_profile->settings();
    settings->setAttribute(QWebEngineSettings::JavascriptEnabled, true);
    settings->setAttribute(QWebEngineSettings::JavascriptCanOpenWindows, true);
    settings->setAttribute(QWebEngineSettings::LocalContentCanAccessRemoteUrls, false);
    // LocalContentCanAccessFileUrls stays on: "itss" is a local scheme, and without it a page
    // cannot load its own style sheets and images. The request interceptor keeps file: out.
    installUserStyleSheet();
    installHighlightScript();

    m_splitView = new SidebarSplitter(this);
    m_sidebar = new CHMSidebar(m_splitView);
    m_docTabView = new QTabWidget(m_splitView);
    m_splitView->addWidget(m_sidebar);
    m_splitView->addWidget(m_docTabView);
    setCentralWidget(m_splitView);

    connect(m_sidebar, &CHMSidebar::changeTopic, this, &CHMDocumentWindow::changeTopic);
    connect(m_sidebar, &CHMSidebar::openInNewTab, this, &CHMDocumentWindow::openInNewTab);

    setupActions();
    setupFindActions();
    windowControllerDidLoadNib();
}

CHMDocumentWindow::~CHMDocumentWindow() {
    m_isClosing = true;
    // The application's Text Encoding menu must not keep pointing at a closed document.
    resetEncodingMenu();
    // Pages go before their profile, the profile before the handler and interceptor it uses,
    // and the handler before the document it reads.
    delete takeCentralWidget();
    m_docTabView = nullptr;
    m_sidebar = nullptr;
    m_splitView = nullptr;
    delete m_profile;
    m_profile = nullptr;
    delete m_requestInterceptor;
    m_requestInterceptor = nullptr;
    delete m_schemeHandler;
    m_schemeHandler = nullptr;
}

void CHMDocumentWindow::insertReaderScript(const QString& name, const QString& source,
                                           bool runsOnSubFrames) {
    // In the reader's own world page scripts can neither see nor replace what it defines, and
    // it works with page scripts off.
    QWebEngineScript script;
    script.setName(name);
    script.setWorldId(QWebEngineScript::ApplicationWorld);
    script.setInjectionPoint(QWebEngineScript::DocumentReady);
    script.setRunsOnSubFrames(runsOnSubFrames);
    script.setSourceCode(source);
    m_profile->scripts()->insert(script);
}

void CHMDocumentWindow::installUserStyleSheet() {
    const QString css =
        ResourceLocator::readText(QStringLiteral("Lumeno.css"), "pages show unstyled");
    if (css.isNull())
        return;
    // The sheet travels as a string literal, so no character of it can end the script early.
    insertReaderScript(
        QStringLiteral("Lumeno user style sheet"),
        QStringLiteral("(function(){var id='lumeno-user-style-sheet';"
                       "if(document.getElementById(id))return;"
                       "var s=document.createElement('style');s.id=id;"
                       "s.textContent=%1;"
                       "(document.head||document.documentElement).appendChild(s);})();")
            .arg(javaScriptStringLiteral(css)),
        true);
}

void CHMDocumentWindow::setupActions() {
    auto make = [this](const QString& text, const QString& iconName, auto slot) {
        auto* action = new QAction(text, this);
        if (!iconName.isEmpty())
            action->setIcon(resourceIcon(iconName));
        connect(action, &QAction::triggered, this, slot);
        // Added to the window so that the shortcuts work with or without a menu bar.
        addAction(action);
        return action;
    };
    m_toggleSidebarAction = make(tr("Show/Hide Sidebar"), QStringLiteral("Sidebar.svg"),
                                 &CHMDocumentWindow::toggleSidebar);
    m_toggleSidebarAction->setCheckable(true);
    m_toggleSidebarAction->setShortcut(QKeySequence(QStringLiteral("Ctrl+Alt+S")));
    connect(m_splitView, &SidebarSplitter::sidebarVisibilityChanged, m_toggleSidebarAction,
            &QAction::setChecked);

    m_homeAction = make(tr("Home"), QStringLiteral("Home.svg"), &CHMDocumentWindow::goHome);
    m_homeAction->setShortcut(QKeySequence(QStringLiteral("Alt+Home")));
    m_backAction = make(tr("Back"), QStringLiteral("Back.svg"), &CHMDocumentWindow::goBack);
    m_backAction->setShortcut(QKeySequence::Back);
    m_forwardAction =
        make(tr("Forward"), QStringLiteral("Forward.svg"), &CHMDocumentWindow::goForward);
    m_forwardAction->setShortcut(QKeySequence::Forward);

    m_zoomOutAction =
        make(tr("Zoom Out"), QStringLiteral("ZoomOut.svg"), &CHMDocumentWindow::zoomOut);
    m_zoomOutAction->setShortcut(QKeySequence::ZoomOut);
    m_zoomOutAction->setToolTip(tr("Smaller text"));
    m_zoomInAction = make(tr("Zoom In"), QStringLiteral("ZoomIn.svg"), &CHMDocumentWindow::zoomIn);
    m_zoomInAction->setShortcuts({QKeySequence::ZoomIn, QKeySequence(QStringLiteral("Ctrl+="))});
    m_zoomInAction->setToolTip(tr("Larger text"));

    m_printAction =
        make(tr("Print…"), QStringLiteral("Print.svg"), &CHMDocumentWindow::printDocument);
    m_printAction->setShortcut(QKeySequence::Print);
    m_printAction->setToolTip(tr("Print"));
    // Filled by the PDF export.
    m_exportAction =
        new QAction(resourceIcon(QStringLiteral("SaveAs.svg")), tr("Export as PDF…"), this);
    m_exportAction->setToolTip(tr("Export as PDF"));
    m_exportAction->setEnabled(false);

    m_newTabAction = make(tr("New Tab"), QStringLiteral("AddTab.svg"), [this] { addNewTab(); });
    m_newTabAction->setShortcut(QKeySequence::AddTab);
    m_closeTabAction = make(tr("Close Tab"), QString(), &CHMDocumentWindow::closeTab);
    m_closeTabAction->setShortcut(QKeySequence(QStringLiteral("Ctrl+W")));
    m_nextTabAction =
        make(tr("Select Next Tab"), QString(), &CHMDocumentWindow::selectNextWebViewTabItem);
    m_nextTabAction->setShortcuts(
        {QKeySequence(QStringLiteral("Ctrl+Tab")), QKeySequence(QStringLiteral("Ctrl+PgDown"))});
    m_previousTabAction = make(tr("Select Previous Tab"), QString(),
                               &CHMDocumentWindow::selectPreviousWebViewTabItem);
    m_previousTabAction->setShortcuts({QKeySequence(QStringLiteral("Ctrl+Shift+Tab")),
                                       QKeySequence(QStringLiteral("Ctrl+PgUp"))});
    m_firstTabAction =
        make(tr("Select First Tab"), QString(), &CHMDocumentWindow::selectFirstWebViewTabItem);
    m_lastTabAction =
        make(tr("Select Last Tab"), QString(), &CHMDocumentWindow::selectLastWebViewTabItem);
}

void CHMDocumentWindow::windowControllerDidLoadNib() {
    setupTabBar();
    addNewTab();

    bool sidebarHidden = false;
    if (const auto toc = m_document->tocSource()) {
        m_sidebar->setTocSource(toc);
        if (toc->rootChildrenCount() == 0) {
            hideSidebar();
            sidebarHidden = true;
        }
    }
    if (const auto index = m_document->indexSource())
        m_sidebar->setIndexSource(index);

    setupToolbar();
    // A book whose table of contents is empty opens with the sidebar hidden.
    if (!sidebarHidden)
        restoreSidebar();

    const QString lastPath =
        CHMFilePreferences::getPreferenceforFile(m_document->filePath(), kLastPathKey).toString();
    if (!lastPath.isEmpty())
        loadPath(lastPath);
    else
        goHome();

    setupSearch();
    setupEncoding();
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

void CHMDocumentWindow::setupToolbar() {
    auto* toolbar = addToolBar(tr("Toolbar"));
    toolbar->setObjectName(QStringLiteral("mainToolbar"));
    toolbar->setMovable(false);
    toolbar->addAction(m_toggleSidebarAction);
    toolbar->addSeparator();
    toolbar->addAction(m_homeAction);
    toolbar->addAction(m_backAction);
    toolbar->addAction(m_forwardAction);
    toolbar->addSeparator();
    toolbar->addAction(m_zoomOutAction);
    toolbar->addAction(m_zoomInAction);
    toolbar->addSeparator();
    toolbar->addAction(m_printAction);
    toolbar->addAction(m_exportAction);

    // Nothing has loaded yet: home and back wait for the first page.
    m_homeAction->setEnabled(false);
    m_backAction->setEnabled(false);
    const double factor = curWebView() ? curWebView()->zoomFactor() : 1.0;
    m_zoomOutAction->setEnabled(ZoomLevels::canMakeSmaller(factor));
    m_zoomInAction->setEnabled(ZoomLevels::canMakeLarger(factor));
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

QString CHMDocumentWindow::currentURL() const {
    const CHMWebView* view = curWebView();
    if (!view || view->url().isEmpty())
        return {};
    return view->url().toString();
}

QString CHMDocumentWindow::currentTitle() const {
    const CHMWebViewController* controller = currentController();
    return controller ? controller->title() : QString();
}

void CHMDocumentWindow::loadPath(const QString& path) {
    loadURL(CHMDocument::composeURL(path));
}

void CHMDocumentWindow::loadURL(const QUrl& url) {
    CHMWebView* view = curWebView();
    if (!view || !url.isValid())
        return;
    view->load(url);
}

void CHMDocumentWindow::changeTopic(LinkItem* item) {
    if (item && !item->path().isEmpty())
        loadPath(item->path());
}

void CHMDocumentWindow::openInNewTab(LinkItem* item) {
    addNewTab();
    changeTopic(item);
}

void CHMDocumentWindow::goBack() {
    CHMWebView* view = curWebView();
    if (view && view->history()->canGoBack())
        view->back();
}

void CHMDocumentWindow::goForward() {
    CHMWebView* view = curWebView();
    if (view && view->history()->canGoForward())
        view->forward();
}

void CHMDocumentWindow::goHome() {
    m_sidebar->deselectAll();
    loadPath(m_document->homePath());
}

void CHMDocumentWindow::gotoPageDown() {
    const auto toc = m_document->tocSource();
    if (!toc)
        return;
    if (const LinkItem* next = toc->getNextPage(m_sidebar->selectedTocItem()))
        loadPath(next->path());
}

void CHMDocumentWindow::gotoPageUp() {
    const auto toc = m_document->tocSource();
    if (!toc)
        return;
    if (const LinkItem* previous = toc->getPrevPage(m_sidebar->selectedTocItem()))
        loadPath(previous->path());
}

void CHMDocumentWindow::locateTOC() {
    const CHMWebView* view = curWebView();
    if (!view)
        return;
    // Not an itss page (a new tab's blank page): the path is empty and the selection clears.
    m_sidebar->locateTOC(CHMDocument::extractPathFromURL(view->url()));
}

void CHMDocumentWindow::zoomIn() {
    if (CHMWebView* view = curWebView())
        view->setZoomFactor(ZoomLevels::larger(view->zoomFactor()));
    after_zoom();
}

void CHMDocumentWindow::zoomOut() {
    if (CHMWebView* view = curWebView())
        view->setZoomFactor(ZoomLevels::smaller(view->zoomFactor()));
    after_zoom();
}

void CHMDocumentWindow::after_zoom() {
    const CHMWebView* view = curWebView();
    if (!view)
        return;
    const double factor = view->zoomFactor();
    m_zoomOutAction->setEnabled(ZoomLevels::canMakeSmaller(factor));
    m_zoomInAction->setEnabled(ZoomLevels::canMakeLarger(factor));
    CHMFilePreferences::setGlobalDefault(kZoomFactorKey, factor);
}

void CHMDocumentWindow::updateHistoryButton() {
    const CHMWebView* view = curWebView();
    m_homeAction->setEnabled(true);
    m_backAction->setEnabled(view && view->history()->canGoBack());
    m_forwardAction->setEnabled(view && view->history()->canGoForward());
}

void CHMDocumentWindow::printDocument() {
    CHMWebView* view = curWebView();
    if (!view)
        return;
    if (m_printer) {
        // A print is still running, unless the tab that printed has gone meanwhile.
        if (m_printingView)
            return;
        m_printer.reset();
    }
    auto printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
    QPrintDialog dialog(printer.get(), this);
    dialog.setWindowTitle(tr("Print"));
    if (dialog.exec() != QDialog::Accepted)
        return;
    // The engine prints asynchronously: the printer must live until it reports back.
    m_printer = std::move(printer);
    m_printingView = view;
    connect(
        view, &QWebEngineView::printFinished, this,
        [this](bool success) {
            if (!success)
                qWarning("Lumeno+: printing failed");
            m_printer.reset();
            m_printingView.clear();
        },
        Qt::SingleShotConnection);
    view->print(m_printer.get());
}

CHMWebViewController* CHMDocumentWindow::createWebViewInTab() {
    auto* controller = new CHMWebViewController();
    CHMWebView* view = controller->webView();
    view->setDocument(this);
    auto* page = new CHMWebPage(m_profile, this, view);
    view->setPage(page);

    const QPointer<CHMWebView> guardedView(view);
    connect(page, &QWebEnginePage::loadFinished, this, [this, guardedView](bool ok) {
        if (guardedView)
            webViewDidFinishLoad(guardedView, ok);
    });
    // Same-page moves (anchors) change the history without a load.
    connect(page, &QWebEnginePage::urlChanged, this, [this, guardedView] {
        if (guardedView && guardedView == curWebView())
            updateHistoryButton();
    });
    connect(page, &CHMWebPage::consoleMessage, this, &CHMDocumentWindow::consoleMessage);
    connectFindBar(controller);

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
    const int index = m_docTabView->currentIndex();
    if (index > 0)
        m_docTabView->setCurrentIndex(index - 1);
}

void CHMDocumentWindow::selectNextWebViewTabItem() {
    const int index = m_docTabView->currentIndex();
    if (index + 1 < tabCount())
        m_docTabView->setCurrentIndex(index + 1);
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

void CHMDocumentWindow::restoreSidebar() {
    m_splitView->restoreSidebar();
}

void CHMDocumentWindow::hideSidebar() {
    m_splitView->hideSidebar();
}

void CHMDocumentWindow::toggleSidebar() {
    m_splitView->toggleSidebar();
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

void CHMDocumentWindow::webViewDidFinishLoad(CHMWebView* view, bool ok) {
    CHMWebViewController* controller = controllerOf(view);
    if (!controller)
        return;
    const bool isCurrent = view == curWebView();
    if (isCurrent)
        updateHistoryButton();
    if (!ok) {
        // A failed load changes neither the label nor the remembered page.
        emit pageLoadFinished(view, false);
        return;
    }
    if (isCurrent)
        locateTOC();

    const QUrl url = view->url();
    const QString path = CHMDocument::extractPathFromURL(url);
    const auto toc = m_document->tocSource();
    const LinkItem* item = toc && !path.isEmpty() ? toc->itemForPath(path, nullptr) : nullptr;
    QString label = item ? item->name() : QString();
    if (label.isEmpty())
        label = pageTitle(view);
    if (label.isEmpty())
        label = untitledLabel();
    setTabLabel(controller, label);

    highlightSearchWordsHook(view);

    // Only pages the file really holds are worth reopening.
    if (!path.isEmpty() && !m_schemeHandler->servedMissingPage(url)) {
        QString stored = path;
        while (stored.startsWith(QLatin1Char('/')))
            stored.remove(0, 1);
        CHMFilePreferences::setPreference(stored, m_document->filePath(), kLastPathKey);
    }
    emit pageLoadFinished(view, true);
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
