// The window of one open .chm file: the sidebar beside the tabs, one web view per tab, the
// toolbar, and the commands that move the current tab from page to page. It coordinates; find in
// page, the sidebar's searches and the text encodings are controllers it owns (findController(),
// searchController(), encodingController()), and a few methods of the same names on the window
// forward to them. The controllers do not know the window: they are given the tabs
// (CHMTabAccess), the sidebar and the document they work on, and speak back through signals the
// window connects.
//
// Ownership: the window owns the document, the document's own off-the-record web profile, its
// "itss" scheme handler and its request interceptor (which keeps local files out of reach), so
// the pages of one file never see another file's objects even where both use the same paths.
// Tabs (controllers, views, pages) are deleted before the profile, the profile before the
// interceptor and the handler, the handler before the document. The application's Text Encoding
// menu is passed in and not owned; it may be null (no such menu) and must outlive the window.
//
// Extending the window: actions() lists every command; add a toolbar button with
// addToolbarAction() (it then takes part in toolbar customisation) and menu items through the
// menu bar the application builds from the actions. currentURL()/currentTitle() describe the
// selected tab, document() the book, profile() the engine profile that offscreen pages of this
// book must use.
//
// The sitemaps of a document opened with SitemapLoading::Later are parsed on the document's work
// thread while the window shows itself and its first page loads; sitemapsDidLoad() then fills the
// sidebar and gives the lists their "no contents" notices. The search index starts once the
// trees are in and the first page has loaded. A change
// of encoding parses them again the same way; the old trees stay until the new ones arrive.
//
// curWebView() is the web view of the selected tab; commands act on it. Work after a page has
// loaded acts on the view that loaded it; the sidebar and the history and zoom actions follow
// the selected tab only. GUI thread only.
#pragma once

#include "CHMEncodingController.h"
#include "CHMFindController.h"
#include "CHMSearchController.h"
#include "CHMTabAccess.h"

#include <QMainWindow>
#include <QPointer>
#include <QUrl>
#include <functional>
#include <memory>

class CHMDocument;
class CHMPrintJob;
class CHMRequestInterceptor;
class CHMSidebar;
class CHMTextEncodingMenu;
class CHMWebView;
class CHMWebViewController;
class ITSSSchemeHandler;
class LinkItem;
class QMenu;
class QTabWidget;
class QToolBar;
class QToolButton;
class QWebEngineProfile;
class SidebarSplitter;
class ToolbarCustomizer;

class CHMDocumentWindow : public QMainWindow {
    Q_OBJECT
public:
    // Takes a document that CHMDocument::open has opened, sets the window up and starts loading
    // the page last read in the file (or its home page) in the first tab.
    explicit CHMDocumentWindow(std::unique_ptr<CHMDocument> document,
                               CHMTextEncodingMenu* encodingMenu = nullptr,
                               QWidget* parent = nullptr);
    ~CHMDocumentWindow() override;

    // The web part of the window (the engine's profile, the first tab and its page) comes after
    // the window's first paint, because starting the web engine holds the GUI thread for a
    // tenth of a second or more: the window shows first. This starts it at once instead; it does
    // nothing the second time. Opening a tab starts it too. The application starts it before it
    // shows the window of a book it opens, so that the page comes while the window is painted.
    void startWebContent();
    bool isWebContentStarted() const { return m_webContentStarted; }

    CHMDocument* document() const { return m_document.get(); }
    // Made on first use; the first profile of the process starts the web engine.
    QWebEngineProfile* profile();
    CHMSidebar* sidebar() const { return m_sidebar; }
    SidebarSplitter* splitView() const { return m_splitView; }
    QTabWidget* docTabView() const { return m_docTabView; }
    QToolBar* mainToolbar() const { return m_mainToolbar; }
    CHMFindController* findController() const { return m_find.get(); }
    CHMSearchController* searchController() const { return m_search.get(); }
    CHMEncodingController* encodingController() const { return m_encoding.get(); }
    int tabCount() const;
    CHMWebViewController* controllerAt(int index) const;
    CHMWebViewController* currentController() const;
    CHMWebViewController* controllerOf(const CHMWebView* view) const;
    CHMWebView* curWebView() const;

    // The current tab's URL and label; null without a current tab (or, for the URL, before it
    // has loaded anything).
    QString currentURL() const;
    QString currentTitle() const;

    // Loading in the current tab. An invalid URL loads nothing. Before the web content has
    // started, the URL becomes the first page instead of the one last read.
    void loadPath(const QString& path);
    void loadURL(const QUrl& url);

    // Commands.
    void changeTopic(LinkItem* item);
    void openInNewTab(LinkItem* item);
    void goBack();
    void goForward();
    void goHome();
    void gotoPageDown();
    void gotoPageUp();
    void locateTOC();
    void zoomIn();
    void zoomOut();
    void actualSize();
    void printDocument();
    void toggleFullScreen();
    void focusOnPage();
    void focusOnContents();

    // Tabs.
    CHMWebViewController* createWebViewInTab();
    CHMWebViewController* addNewTab();
    // Closes the selected tab; the window when it is the only one.
    void closeTab();
    void closeTabAt(int index);
    // Selects the tab of the view.
    void showWebView(CHMWebView* view);
    void selectFirstWebViewTabItem();
    // Previous and next wrap around at the ends.
    void selectPreviousWebViewTabItem();
    void selectNextWebViewTabItem();
    void selectLastWebViewTabItem();
    // The most tabs that pages may have open at once in this window (window.open, links with a
    // target); further requests are refused and logged.
    static constexpr int kMaxTabsOpenedByPages = 16;

    // Sidebar.
    // Whether the trees of the sitemaps are in the sidebar (false while the first parse runs).
    bool areSitemapsShown() const { return m_sitemapsShown; }
    // Parses the sitemaps again in the document's current encoding, off the GUI thread.
    void reloadSitemaps();
    void restoreSidebar();
    void hideSidebar();
    void toggleSidebar();

    // Toolbar: the button joins the toolbar (at its end) and the customisation dialog.
    void addToolbarAction(QAction* action);
    // Opens the customisation dialog (window-modal); answers it.
    QWidget* customizeToolbar();
    ToolbarCustomizer* toolbarCustomizer() const { return m_toolbarCustomizer; }

    // How outside URLs (http, https, mailto) reach the system; false when nothing handles them.
    // QDesktopServices::openUrl unless replaced (tests).
    void setExternalUrlOpener(std::function<bool(const QUrl&)> opener);

    QAction* toggleSidebarAction() const { return m_toggleSidebarAction; }
    QAction* homeAction() const { return m_homeAction; }
    QAction* backAction() const { return m_backAction; }
    QAction* forwardAction() const { return m_forwardAction; }
    QAction* zoomOutAction() const { return m_zoomOutAction; }
    QAction* zoomInAction() const { return m_zoomInAction; }
    QAction* actualSizeAction() const { return m_actualSizeAction; }
    QAction* printAction() const { return m_printAction; }
    QAction* exportAction() const { return m_exportAction; }
    QAction* newTabAction() const { return m_newTabAction; }
    QAction* closeTabAction() const { return m_closeTabAction; }
    QAction* nextTabAction() const { return m_nextTabAction; }
    QAction* previousTabAction() const { return m_previousTabAction; }
    QAction* firstTabAction() const { return m_firstTabAction; }
    QAction* lastTabAction() const { return m_lastTabAction; }
    QAction* fullScreenAction() const { return m_fullScreenAction; }
    QAction* customizeToolbarAction() const { return m_customizeToolbarAction; }
    QAction* focusOnPageAction() const { return m_focusOnPageAction; }
    QAction* focusOnContentsAction() const { return m_focusOnContentsAction; }

    static QString untitledLabel();

    // Find in page (CHMFindController): one-line forwards.
    void showFindPanel() { m_find->showFindPanel(); }
    void findInFile(int segment, CHMWebView* target = nullptr) {
        m_find->findInFile(segment, target);
    }
    void runJavascript(const QString& script, CHMWebView* target = nullptr,
                       const std::function<void(const QVariant&)>& callback = {});
    QAction* findAction() const { return m_find->findAction(); }
    QAction* findNextAction() const { return m_find->findNextAction(); }
    QAction* findPreviousAction() const { return m_find->findPreviousAction(); }
    QAction* doneFindAction() const { return m_find->doneFindAction(); }

    // Searches (CHMSearchController): one-line forwards.
    void setSearchInIndex() { m_search->setSearchInIndex(); }
    bool isSearchPending() const { return m_search->isSearchPending(); }
    QMenu* searchMenu() const { return m_search->searchMenu(); }
    QAction* focusOnSearchAction() const { return m_search->focusOnSearchAction(); }

    // Text encodings (CHMEncodingController): one-line forwards.
    void changeEncoding(int tag) { m_encoding->changeEncoding(tag); }
    QToolButton* textEncodingPopup() const { return m_encoding->textEncodingPopup(); }

signals:
    // A page finished loading in view (after the window's own work for it).
    void pageLoadFinished(CHMWebView* view, bool ok);
    // A line a page of this window wrote with console.log.
    void consoleMessage(const QString& message);
    // The "Search" list shows a new result, the indexing notice, or nothing.
    void searchListChanged();
    // New trees of the sitemaps are in the sidebar (after opening, after an encoding change).
    void sitemapsLoaded();

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void setupProfile();
    // The tabs as the controllers see them.
    CHMTabAccess tabAccess();
    void windowControllerDidLoadNib();
    void setupActions();
    void setupTabBar();
    void setupToolbar();
    void restoreWindowGeometry();
    void updateHistoryButton();
    void after_zoom();
    void webViewDidFinishLoad(CHMWebView* view, bool ok);
    // Tells the user, once, when a list was cut at the item limit and how much was left out.
    void tellOfCutLists();
    // Tells the user that the book's reading process has died: its pages can no longer be read.
    void tellOfDamage();
    void sitemapsDidLoad();
    void labelTabsFromContents();
    void startSearchIndexWhenReady();
    void tabDidSelect(int index);
    void openTabForPage(const QUrl& url);
    void openExternalUrl(const QUrl& url);
    void setTabLabel(CHMWebViewController* controller, const QString& label);
    void updateCloseButtons();
    void updateFullScreenAction();
    // Ends the dialogs of the tabs' pages for good, closing those open; true when one was open.
    bool endPageDialogs();
    QString pageTitle(const CHMWebView* view) const;
    QAction* makeAction(const QString& text, const QString& iconName,
                        const std::function<void()>& slot);

    // Declared in teardown order's reverse: the profile goes first, then the interceptor and
    // the handler it uses, then the document the handler reads.
    std::unique_ptr<CHMDocument> m_document;
    CHMTextEncodingMenu* m_encodingMenu; // not owned; outlives the window
    std::unique_ptr<ITSSSchemeHandler> m_schemeHandler;
    std::unique_ptr<CHMRequestInterceptor> m_requestInterceptor;
    std::unique_ptr<QWebEngineProfile> m_profile;

    SidebarSplitter* m_splitView = nullptr;
    CHMSidebar* m_sidebar = nullptr;
    QTabWidget* m_docTabView = nullptr;
    QToolBar* m_mainToolbar = nullptr;
    ToolbarCustomizer* m_toolbarCustomizer = nullptr; // owned by the toolbar
    std::unique_ptr<CHMPrintJob> m_printJob;
    std::function<bool(const QUrl&)> m_externalUrlOpener;
    QList<QPointer<CHMWebViewController>> m_tabsOpenedByPages;

    QAction* m_toggleSidebarAction = nullptr;
    QAction* m_homeAction = nullptr;
    QAction* m_backAction = nullptr;
    QAction* m_forwardAction = nullptr;
    QAction* m_zoomOutAction = nullptr;
    QAction* m_zoomInAction = nullptr;
    QAction* m_actualSizeAction = nullptr;
    QAction* m_printAction = nullptr;
    QAction* m_exportAction = nullptr;
    QAction* m_newTabAction = nullptr;
    QAction* m_closeTabAction = nullptr;
    QAction* m_nextTabAction = nullptr;
    QAction* m_previousTabAction = nullptr;
    QAction* m_firstTabAction = nullptr;
    QAction* m_lastTabAction = nullptr;
    QAction* m_fullScreenAction = nullptr;
    QAction* m_customizeToolbarAction = nullptr;
    QAction* m_focusOnPageAction = nullptr;
    QAction* m_focusOnContentsAction = nullptr;

    // After the widgets they use; destroyed before them.
    std::unique_ptr<CHMFindController> m_find;
    std::unique_ptr<CHMSearchController> m_search;
    std::unique_ptr<CHMEncodingController> m_encoding;
    bool m_isClosing = false; // set first thing in the destructor
    bool m_sitemapsShown = false;
    // The first page is still on its way: the index waits for it, so as not to slow it down.
    bool m_awaitingFirstLoad = true;
    bool m_webContentStarted = false;
    bool m_webContentScheduled = false;
    // A page asked for before the web content started; it is then the first page.
    QUrl m_firstURL;
};
