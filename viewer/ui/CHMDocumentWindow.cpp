#include "CHMDocumentWindow.h"

#include "CHMDocument.h"
#include "CHMEncodingController.h"
#include "CHMFilePreferences.h"
#include "CHMFindController.h"
#include "CHMOutlineView.h"
#include "CHMPrintJob.h"
#include "CHMRequestInterceptor.h"
#include "CHMSearchController.h"
#include "CHMSidebar.h"
#include "CHMTableOfContent.h"
#include "CHMWebPage.h"
#include "CHMWebView.h"
#include "CHMWebViewController.h"
#include "ITSSSchemeHandler.h"
#include "LinkItem.h"
#include "LumenoLogging.h"
#include "ReaderScripts.h"
#include "ResourceLocator.h"
#include "SidebarSplitter.h"
#include "ToolbarCustomizer.h"
#include "ZoomLevels.h"

#include <QAction>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QFileInfo>
#include <QFontMetrics>
#include <QMessageBox>
#include <QPrintDialog>
#include <QPrinter>
#include <QSettings>
#include <QTabBar>
#include <QTabWidget>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QWebEngineHistory>
#include <QWebEngineProfile>
#include <QWebEngineSettings>
#include <QWidgetAction>
#include <QWindow>

namespace {

const QString kLastPathKey = QStringLiteral("last path");
const QString kZoomFactorKey = QStringLiteral("zoom factor");
const QString kWindowGeometryKey = QStringLiteral("window geometry");
// How long a shown window waits to be painted before its web content starts regardless.
constexpr int kLongestWaitForFirstPaintMs = 250;
// Tab labels longer than this are shortened in the tab bar; the tooltip keeps the whole.
constexpr int kMaxTabLabelWidth = 220;

QIcon resourceIcon(const QString& name) {
    const QString path = ResourceLocator::resourcePath(QStringLiteral("icons/") + name);
    return path.isEmpty() ? QIcon() : QIcon(path);
}

// The contents entry of a page: the entry of the page's anchor when the contents have one, else
// the page's first entry.
const LinkItem* tocItemForUrl(const CHMTableOfContent* toc, const QUrl& url) {
    const QString path = CHMDocument::extractPathFromURL(url);
    if (!toc || path.isEmpty())
        return nullptr;
    if (url.hasFragment()) {
        const QString anchored = path + QLatin1Char('#') + url.fragment(QUrl::FullyDecoded);
        if (const LinkItem* item = toc->itemForPath(anchored, nullptr))
            return item;
    }
    return toc->itemForPath(path, nullptr);
}

} // namespace

QString CHMDocumentWindow::untitledLabel() {
    return tr("(Untitled)");
}

CHMDocumentWindow::CHMDocumentWindow(std::unique_ptr<CHMDocument> document,
                                     CHMTextEncodingMenu* encodingMenu, QWidget* parent)
    : QMainWindow(parent), m_document(std::move(document)), m_encodingMenu(encodingMenu),
      m_externalUrlOpener([](const QUrl& url) { return QDesktopServices::openUrl(url); }) {
    setAttribute(Qt::WA_DeleteOnClose);
    const QString fileName = QFileInfo(m_document->filePath()).fileName();
    setWindowTitle(fileName.isEmpty() ? QStringLiteral("Lumeno+") : fileName);
    resize(1100, 760);

    m_splitView = new SidebarSplitter(this);
    m_sidebar = new CHMSidebar(m_splitView);
    m_docTabView = new QTabWidget(m_splitView);
    m_splitView->addWidget(m_sidebar);
    m_splitView->addWidget(m_docTabView);
    setCentralWidget(m_splitView);

    connect(m_sidebar, &CHMSidebar::changeTopic, this, &CHMDocumentWindow::changeTopic);
    connect(m_sidebar, &CHMSidebar::openInNewTab, this, &CHMDocumentWindow::openInNewTab);

    setupActions();
    m_find = std::make_unique<CHMFindController>(*this);
    windowControllerDidLoadNib();
}

CHMDocumentWindow::~CHMDocumentWindow() {
    m_isClosing = true;
    m_find->setClosing();
    // The application's Text Encoding menu must not keep pointing at a closed document.
    if (m_encoding)
        m_encoding->resetEncodingMenu();
    m_printJob.reset();
    // The controllers watch the widgets: they go first.
    m_encoding.reset();
    m_search.reset();
    // Pages go before their profile: the tabs are widgets, which Qt would only delete after the
    // members below. Then the members go in reverse order of declaration: the controllers, the
    // profile, the interceptor and handler it uses, and the document the handler reads.
    delete takeCentralWidget();
    m_docTabView = nullptr;
    m_sidebar = nullptr;
    m_splitView = nullptr;
}

QWebEngineProfile* CHMDocumentWindow::profile() {
    if (!m_profile) {
        setupProfile();
        m_find->installInto(*m_profile);
    }
    return m_profile.get();
}

void CHMDocumentWindow::startWebContent() {
    if (m_webContentStarted)
        return;
    m_webContentStarted = true;
    QUrl first = m_firstURL;
    if (!first.isValid()) {
        const QString lastPath =
            CHMFilePreferences::getPreferenceforFile(m_document->filePath(), kLastPathKey)
                .toString();
        first = CHMDocument::composeURL(lastPath.isEmpty() ? m_document->homePath() : lastPath);
        m_sidebar->deselectAll();
    }
    m_awaitingFirstLoad = first.isValid();
    // Asked for as soon as the first tab's page exists: the engine starts its page process and
    // the request while the tab's widgets are set up and shown.
    m_firstURL = first;
    addNewTab();
    startSearchIndexWhenReady();
}

void CHMDocumentWindow::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (m_webContentStarted || m_webContentScheduled)
        return;
    m_webContentScheduled = true;
    if (QWindow* handle = windowHandle())
        handle->installEventFilter(this);
    // A window that is never exposed (opened minimised, say) gets its page all the same.
    QTimer::singleShot(kLongestWaitForFirstPaintMs, this, &CHMDocumentWindow::startWebContent);
}

bool CHMDocumentWindow::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Expose && watched == windowHandle() &&
        windowHandle()->isExposed()) {
        watched->removeEventFilter(this);
        // Queued, so that this exposure is painted before the engine holds the thread.
        QTimer::singleShot(0, this, &CHMDocumentWindow::startWebContent);
    }
    return QMainWindow::eventFilter(watched, event);
}

void CHMDocumentWindow::setupProfile() {
    m_schemeHandler = std::make_unique<ITSSSchemeHandler>(m_document.get());
    m_requestInterceptor = std::make_unique<CHMRequestInterceptor>();
    // A profile without a storage name is off the record: nothing of the file reaches the disk.
    m_profile = std::make_unique<QWebEngineProfile>();
    m_profile->installUrlSchemeHandler("itss", m_schemeHandler.get());
    m_profile->setUrlRequestInterceptor(m_requestInterceptor.get());
    QWebEngineSettings* settings = m_profile->settings();
    settings->setAttribute(QWebEngineSettings::JavascriptEnabled, true);
    // Window requests reach CHMWebPage, which asks for the user's gesture before opening a tab.
    settings->setAttribute(QWebEngineSettings::JavascriptCanOpenWindows, true);
    settings->setAttribute(QWebEngineSettings::LocalContentCanAccessRemoteUrls, false);
    // LocalContentCanAccessFileUrls stays on: "itss" is a local scheme, and without it a page
    // cannot load its own style sheets and images. The request interceptor keeps file: out.
    ReaderScripts::installUserStyleSheet(*m_profile);
    ReaderScripts::installConsoleFilter(*m_profile);
}

QAction* CHMDocumentWindow::makeAction(const QString& text, const QString& iconName,
                                       const std::function<void()>& slot) {
    auto* action = new QAction(text, this);
    if (!iconName.isEmpty())
        action->setIcon(resourceIcon(iconName));
    connect(action, &QAction::triggered, this, slot);
    // Added to the window so that the shortcuts work with or without a menu bar.
    addAction(action);
    return action;
}

void CHMDocumentWindow::setupActions() {
    m_toggleSidebarAction = makeAction(tr("Show/Hide Sidebar"), QStringLiteral("Sidebar.svg"),
                                       [this] { toggleSidebar(); });
    m_toggleSidebarAction->setObjectName(QStringLiteral("toggleSidebar"));
    m_toggleSidebarAction->setCheckable(true);
    m_toggleSidebarAction->setShortcut(QKeySequence(QStringLiteral("Ctrl+Alt+S")));
    connect(m_splitView, &SidebarSplitter::sidebarVisibilityChanged, m_toggleSidebarAction,
            &QAction::setChecked);

    m_homeAction = makeAction(tr("Home"), QStringLiteral("Home.svg"), [this] { goHome(); });
    m_homeAction->setObjectName(QStringLiteral("home"));
    m_homeAction->setShortcut(QKeySequence(QStringLiteral("Alt+Home")));
    m_backAction = makeAction(tr("Back"), QStringLiteral("Back.svg"), [this] { goBack(); });
    m_backAction->setObjectName(QStringLiteral("back"));
    m_backAction->setShortcut(QKeySequence::Back);
    m_forwardAction =
        makeAction(tr("Forward"), QStringLiteral("Forward.svg"), [this] { goForward(); });
    m_forwardAction->setObjectName(QStringLiteral("forward"));
    m_forwardAction->setShortcut(QKeySequence::Forward);

    m_zoomOutAction =
        makeAction(tr("Zoom Out"), QStringLiteral("ZoomOut.svg"), [this] { zoomOut(); });
    m_zoomOutAction->setObjectName(QStringLiteral("zoomOut"));
    m_zoomOutAction->setShortcut(QKeySequence::ZoomOut);
    m_zoomOutAction->setToolTip(tr("Smaller text"));
    m_zoomInAction = makeAction(tr("Zoom In"), QStringLiteral("ZoomIn.svg"), [this] { zoomIn(); });
    m_zoomInAction->setObjectName(QStringLiteral("zoomIn"));
    m_zoomInAction->setShortcuts({QKeySequence::ZoomIn, QKeySequence(QStringLiteral("Ctrl+="))});
    m_zoomInAction->setToolTip(tr("Larger text"));
    m_actualSizeAction = makeAction(tr("Actual Size"), QString(), [this] { actualSize(); });
    m_actualSizeAction->setShortcut(QKeySequence(QStringLiteral("Ctrl+0")));

    m_printAction =
        makeAction(tr("Print…"), QStringLiteral("Print.svg"), [this] { printDocument(); });
    m_printAction->setObjectName(QStringLiteral("print"));
    m_printAction->setShortcut(QKeySequence::Print);
    m_printAction->setToolTip(tr("Print"));
    // Filled by the PDF export.
    m_exportAction =
        new QAction(resourceIcon(QStringLiteral("SaveAs.svg")), tr("Export as PDF…"), this);
    m_exportAction->setObjectName(QStringLiteral("saveAs"));
    m_exportAction->setToolTip(tr("Export as PDF"));
    m_exportAction->setEnabled(false);

    m_newTabAction =
        makeAction(tr("New Tab"), QStringLiteral("AddTab.svg"), [this] { addNewTab(); });
    m_newTabAction->setShortcut(QKeySequence::AddTab);
    m_closeTabAction = makeAction(tr("Close Tab"), QString(), [this] { closeTab(); });
    m_closeTabAction->setShortcut(QKeySequence(QStringLiteral("Ctrl+W")));
    m_nextTabAction =
        makeAction(tr("Select Next Tab"), QString(), [this] { selectNextWebViewTabItem(); });
    m_nextTabAction->setShortcuts(
        {QKeySequence(QStringLiteral("Ctrl+Tab")), QKeySequence(QStringLiteral("Ctrl+PgDown"))});
    m_previousTabAction = makeAction(tr("Select Previous Tab"), QString(),
                                     [this] { selectPreviousWebViewTabItem(); });
    m_previousTabAction->setShortcuts({QKeySequence(QStringLiteral("Ctrl+Shift+Tab")),
                                       QKeySequence(QStringLiteral("Ctrl+PgUp"))});
    m_firstTabAction =
        makeAction(tr("Select First Tab"), QString(), [this] { selectFirstWebViewTabItem(); });
    m_lastTabAction =
        makeAction(tr("Select Last Tab"), QString(), [this] { selectLastWebViewTabItem(); });

    m_fullScreenAction =
        makeAction(tr("Enter Full Screen"), QString(), [this] { toggleFullScreen(); });
    // F11 as most Linux programs have it, besides the platform's own key.
    QList<QKeySequence> fullScreenKeys = QKeySequence::keyBindings(QKeySequence::FullScreen);
    for (const QKeySequence& key :
         {QKeySequence(Qt::Key_F11), QKeySequence(QStringLiteral("Ctrl+Meta+F"))}) {
        if (!fullScreenKeys.contains(key))
            fullScreenKeys << key;
    }
    m_fullScreenAction->setShortcuts(fullScreenKeys);
    m_customizeToolbarAction =
        makeAction(tr("Customize Toolbar…"), QString(), [this] { customizeToolbar(); });
    m_focusOnPageAction = makeAction(tr("Focus on Page"), QString(), [this] { focusOnPage(); });
    m_focusOnPageAction->setShortcut(QKeySequence(QStringLiteral("Ctrl+Alt+P")));
    m_focusOnContentsAction =
        makeAction(tr("Focus on Contents"), QString(), [this] { focusOnContents(); });
    m_focusOnContentsAction->setShortcut(QKeySequence(QStringLiteral("Ctrl+Alt+C")));
}

void CHMDocumentWindow::windowControllerDidLoadNib() {
    // The window can take the whole screen (View › Enter Full Screen); its state is its own.
    setWindowFlag(Qt::WindowFullscreenButtonHint, true);
    setupTabBar();
    // The sitemaps are parsed meanwhile; sitemapsDidLoad hides the sidebar again when the
    // contents turn out empty.
    if (!m_document->areSitemapsLoaded())
        reloadSitemaps();

    setupToolbar();
    restoreSidebar();

    m_search = std::make_unique<CHMSearchController>(*this, *m_document, *m_sidebar);
    connect(m_search.get(), &CHMSearchController::searchListChanged, this,
            &CHMDocumentWindow::searchListChanged);
    m_encoding =
        std::make_unique<CHMEncodingController>(*this, *m_document, *m_sidebar, m_encodingMenu);
    auto* popup = new QWidgetAction(this);
    popup->setDefaultWidget(m_encoding->textEncodingPopup());
    popup->setObjectName(QStringLiteral("textEncoding"));
    popup->setText(tr("Text Encoding"));
    m_toolbarCustomizer->addSeparator();
    m_toolbarCustomizer->addItem(popup);
    restoreWindowGeometry();
    if (m_document->areSitemapsLoaded())
        sitemapsDidLoad();
}

void CHMDocumentWindow::reloadSitemaps() {
    m_document->setupTOCSourceInBackground(this, [this] { sitemapsDidLoad(); });
}

void CHMDocumentWindow::sitemapsDidLoad() {
    const bool first = !m_sitemapsShown;
    m_sitemapsShown = true;
    const auto toc = m_document->tocSource();
    m_sidebar->setTocSource(toc);
    m_sidebar->setIndexSource(m_document->indexSource());
    if (first) {
        // Said only now that the lists are known to be empty, not merely still coming.
        m_sidebar->tocView()->setEmptyText(tr("This book has no table of contents."));
        m_sidebar->indexView()->setEmptyText(tr("This book has no index."));
        // A book whose table of contents is empty reads without the sidebar.
        if (toc && toc->rootChildrenCount() == 0)
            hideSidebar();
        tellOfCutLists();
    }
    labelTabsFromContents();
    locateTOC();
    if (first) {
        m_search->sitemapsDidLoad();
        startSearchIndexWhenReady();
    }
    emit sitemapsLoaded();
}

void CHMDocumentWindow::startSearchIndexWhenReady() {
    if (m_sitemapsShown && !m_awaitingFirstLoad && m_search)
        m_search->startSearchIndex();
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

void CHMDocumentWindow::setupToolbar() {
    m_mainToolbar = addToolBar(tr("Toolbar"));
    m_mainToolbar->setObjectName(QStringLiteral("mainToolbar"));
    m_mainToolbar->setMovable(false);
    m_toolbarCustomizer = new ToolbarCustomizer(m_mainToolbar);
    m_toolbarCustomizer->addItem(m_toggleSidebarAction);
    m_toolbarCustomizer->addSeparator();
    m_toolbarCustomizer->addItem(m_homeAction);
    m_toolbarCustomizer->addItem(m_backAction);
    m_toolbarCustomizer->addItem(m_forwardAction);
    m_toolbarCustomizer->addSeparator();
    m_toolbarCustomizer->addItem(m_zoomOutAction);
    m_toolbarCustomizer->addItem(m_zoomInAction);
    m_toolbarCustomizer->addSeparator();
    m_toolbarCustomizer->addItem(m_printAction);
    m_toolbarCustomizer->addItem(m_exportAction);

    // Nothing has loaded yet: home and back wait for the first page.
    m_homeAction->setEnabled(false);
    m_backAction->setEnabled(false);
    const double factor = curWebView() ? curWebView()->zoomFactor() : 1.0;
    m_zoomOutAction->setEnabled(ZoomLevels::canMakeSmaller(factor));
    m_zoomInAction->setEnabled(ZoomLevels::canMakeLarger(factor));
}

void CHMDocumentWindow::addToolbarAction(QAction* action) {
    if (action)
        m_toolbarCustomizer->addItem(action);
}

QWidget* CHMDocumentWindow::customizeToolbar() {
    return m_toolbarCustomizer->showDialog(this);
}

void CHMDocumentWindow::restoreWindowGeometry() {
    const QByteArray geometry = CHMFilePreferences::globalDefault(kWindowGeometryKey).toByteArray();
    // A saved place on a screen that is gone is mended by restoreGeometry itself.
    if (!geometry.isEmpty() && !restoreGeometry(geometry))
        qCDebug(lcWindow) << "the saved window geometry could not be used";
}

void CHMDocumentWindow::closeEvent(QCloseEvent* event) {
    // A page's dialog waits in an event loop that runs inside the page: the window, and the
    // page with it, may only go once that loop has ended. The dialogs close, and so does the
    // window right after.
    if (endPageDialogs()) {
        event->ignore();
        QTimer::singleShot(0, this, &QWidget::close);
        return;
    }
    // Full screen is a passing state: the size and place to come back to are the normal ones.
    if (!isFullScreen())
        CHMFilePreferences::setGlobalDefault(kWindowGeometryKey, saveGeometry());
    QMainWindow::closeEvent(event);
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

void CHMDocumentWindow::changeEvent(QEvent* event) {
    if (event->type() == QEvent::WindowStateChange)
        updateFullScreenAction();
    QMainWindow::changeEvent(event);
}

void CHMDocumentWindow::toggleFullScreen() {
    if (isFullScreen())
        showNormal();
    else
        showFullScreen();
    updateFullScreenAction();
}

void CHMDocumentWindow::updateFullScreenAction() {
    if (m_fullScreenAction)
        m_fullScreenAction->setText(isFullScreen() ? tr("Exit Full Screen")
                                                   : tr("Enter Full Screen"));
}

void CHMDocumentWindow::focusOnPage() {
    if (CHMWebView* view = curWebView())
        view->setFocus(Qt::ShortcutFocusReason);
}

void CHMDocumentWindow::focusOnContents() {
    if (!m_splitView->isSidebarRestored())
        restoreSidebar();
    m_sidebar->showList(CHMSidebar::kContents);
    m_sidebar->tocView()->setFocus(Qt::ShortcutFocusReason);
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
    if (!m_webContentStarted) {
        if (url.isValid())
            m_firstURL = url;
        return;
    }
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
    // An anchor entry keeps its row: the page's own URL, fragment and all, is looked up first.
    const QUrl url = view->url();
    const LinkItem* item = tocItemForUrl(m_document->tocSource().get(), url);
    if (item && url.hasFragment() && item->path().contains(QLatin1Char('#'))) {
        m_sidebar->locateTOC(item->path());
        return;
    }
    // Not an itss page (a new tab's blank page): the path is empty and the selection clears.
    m_sidebar->locateTOC(CHMDocument::extractPathFromURL(url));
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

void CHMDocumentWindow::actualSize() {
    if (CHMWebView* view = curWebView())
        view->setZoomFactor(1.0);
    after_zoom();
}

void CHMDocumentWindow::after_zoom() {
    const CHMWebView* view = curWebView();
    if (!view)
        return;
    const double factor = view->zoomFactor();
    m_zoomOutAction->setEnabled(ZoomLevels::canMakeSmaller(factor));
    m_zoomInAction->setEnabled(ZoomLevels::canMakeLarger(factor));
    m_actualSizeAction->setEnabled(!qFuzzyCompare(factor, 1.0));
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
    if (m_printJob && m_printJob->isRunning())
        return;
    QPrinter printer(QPrinter::HighResolution);
    QPrintDialog dialog(&printer, this);
    dialog.setWindowTitle(tr("Print"));
    if (dialog.exec() != QDialog::Accepted || !view)
        return;
    m_printJob = std::make_unique<CHMPrintJob>(view->page(), CHMPrintJob::targetOf(printer));
    connect(m_printJob.get(), &CHMPrintJob::finished, this, [this](const QString& error) {
        if (!error.isEmpty())
            QMessageBox::warning(this, tr("Print"), error);
    });
    QString error;
    if (!m_printJob->start(&error))
        QMessageBox::warning(this, tr("Print"), error);
}

void CHMDocumentWindow::setExternalUrlOpener(std::function<bool(const QUrl&)> opener) {
    m_externalUrlOpener = std::move(opener);
}

void CHMDocumentWindow::tellOfCutLists() {
    QStringList cut;
    const auto describe = [&](const std::shared_ptr<CHMTableOfContent>& list, const QString& name) {
        if (list && list->truncatedItemCount() > 0)
            cut << tr("The %1 was cut at %L2 entries; %L3 more were left out.")
                       .arg(name)
                       .arg(list->readItemCount())
                       .arg(list->truncatedItemCount());
    };
    describe(m_document->tocSource(), tr("table of contents"));
    describe(m_document->indexSource(), tr("index"));
    if (cut.isEmpty())
        return;
    // A message the user can dismiss, not one that stops the window.
    auto* box = new QMessageBox(QMessageBox::Warning, tr("Lists Cut Short"), cut.join(u'\n'),
                                QMessageBox::Ok, this);
    box->setObjectName(QStringLiteral("cutListsMessage"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

void CHMDocumentWindow::openExternalUrl(const QUrl& url) {
    if (m_externalUrlOpener && m_externalUrlOpener(url))
        return;
    // A message the user can dismiss, not one that stops the window.
    auto* box = new QMessageBox(
        QMessageBox::Information, tr("Open Link"),
        tr("No program on this computer opens “%1”.").arg(url.toDisplayString().left(300)),
        QMessageBox::Ok, this);
    box->setObjectName(QStringLiteral("noHandlerMessage"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
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
    if (const QUrl first = std::exchange(m_firstURL, QUrl()); first.isValid())
        view->load(first);

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
    if (m_awaitingFirstLoad) {
        m_awaitingFirstLoad = false;
        startSearchIndexWhenReady();
    }
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
    const LinkItem* item = tocItemForUrl(m_document->tocSource().get(), url);
    QString label = item ? item->name() : QString();
    if (label.isEmpty())
        label = pageTitle(view);
    if (label.isEmpty())
        label = untitledLabel();
    setTabLabel(controller, label);

    m_find->highlightSearchWords(view, m_search ? m_search->searchFieldText() : QString());

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

void CHMDocumentWindow::runJavascript(const QString& script, CHMWebView* target,
                                      const std::function<void(const QVariant&)>& callback) {
    m_find->runJavascript(script, target, callback);
}
