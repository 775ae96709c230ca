#include "CHMDocumentWindow.h"

#include "CHMDocument.h"
#include "CHMDocumentWindowSupport.h"
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
#include "SidebarSplitter.h"
#include "ToolbarCustomizer.h"

#include <QCloseEvent>
#include <QDesktopServices>
#include <QFileInfo>
#include <QMessageBox>
#include <QTimer>
#include <QToolButton>
#include <QWebEngineHistory>
#include <QWebEngineProfile>
#include <QWebEngineSettings>
#include <QWidgetAction>
#include <QWindow>

using documentwindow::tocItemForUrl;

namespace {

const QString kLastPathKey = QStringLiteral("last path");
const QString kWindowGeometryKey = QStringLiteral("window geometry");
// How long a shown window waits to be painted before its web content starts regardless.
constexpr int kLongestWaitForFirstPaintMs = 250;

} // namespace

const LinkItem* documentwindow::tocItemForUrl(const CHMTableOfContent* toc, const QUrl& url) {
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
    m_find = std::make_unique<CHMFindController>(tabAccess());
    // On the window, so that the shortcuts work with or without a menu bar.
    addActions(m_find->actions());
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
    qCDebug(lcStartup) << "web content starting";
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
        qCDebug(lcStartup) << "window exposed";
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
    qCDebug(lcStartup) << "profile made";
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

    m_search = std::make_unique<CHMSearchController>(*m_document, *m_sidebar, *m_splitView);
    addAction(m_search->focusOnSearchAction());
    connect(m_search.get(), &CHMSearchController::searchListChanged, this,
            &CHMDocumentWindow::searchListChanged);
    connect(m_search.get(), &CHMSearchController::highlightsOutdated, this,
            [this] { m_find->removeHighlight(); });
    m_encoding =
        std::make_unique<CHMEncodingController>(*this, *m_document, tabAccess(), m_encodingMenu);
    connect(m_encoding.get(), &CHMEncodingController::encodingChanged, this,
            &CHMDocumentWindow::reloadSitemaps);
    auto* popup = new QWidgetAction(this);
    popup->setDefaultWidget(m_encoding->textEncodingPopup());
    popup->setObjectName(QStringLiteral("textEncoding"));
    popup->setText(tr("Text Encoding"));
    m_toolbarCustomizer->addSeparator();
    m_toolbarCustomizer->addItem(popup);
    restoreWindowGeometry();
    if (m_document->areSitemapsLoaded())
        sitemapsDidLoad();
    m_document->setDamageHandler(this, [this] { tellOfDamage(); });
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

void CHMDocumentWindow::changeEvent(QEvent* event) {
    if (event->type() == QEvent::WindowStateChange)
        updateFullScreenAction();
    QMainWindow::changeEvent(event);
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

void CHMDocumentWindow::tellOfDamage() {
    if (m_isClosing)
        return;
    qCWarning(lcWindow) << "the reading process of" << logSafe(m_document->filePath())
                        << "has stopped; the book reads as damaged";
    // The window stays: what it shows is still there, and other windows carry on.
    auto* box = new QMessageBox(
        QMessageBox::Warning, tr("Damaged Book"),
        tr("“%1” is damaged: its pages can no longer be read. Close the window and open the "
           "book again to try once more.")
            .arg(QFileInfo(m_document->filePath()).fileName()),
        QMessageBox::Ok, this);
    box->setObjectName(QStringLiteral("damagedBookMessage"));
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

void CHMDocumentWindow::restoreSidebar() {
    m_splitView->restoreSidebar();
}

void CHMDocumentWindow::hideSidebar() {
    m_splitView->hideSidebar();
}

void CHMDocumentWindow::toggleSidebar() {
    m_splitView->toggleSidebar();
}

void CHMDocumentWindow::webViewDidFinishLoad(CHMWebView* view, bool ok) {
    CHMWebViewController* controller = controllerOf(view);
    if (!controller)
        return;
    if (m_awaitingFirstLoad) {
        qCDebug(lcStartup) << "first page loaded";
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

void CHMDocumentWindow::runJavascript(const QString& script, CHMWebView* target,
                                      const std::function<void(const QVariant&)>& callback) {
    m_find->runJavascript(script, target, callback);
}
