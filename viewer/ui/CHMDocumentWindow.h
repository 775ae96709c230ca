// The window of one open .chm file: the sidebar beside the tabs, one web view per tab, the
// toolbar, and the commands that move the current tab from page to page.
//
// Ownership: the window owns the document, the document's own off-the-record web profile, its
// "itss" scheme handler and its request interceptor (which keeps local files out of reach), so
// the pages of one file never see another file's objects even where both use the same paths.
// Tabs (controllers, views, pages) are deleted before the profile, the profile before the
// handler and the interceptor, the handler before the document.
//
// curWebView() is the web view of the selected tab; commands act on it. Work after a page has
// loaded acts on the view that loaded it; the sidebar and the history and zoom actions follow
// the selected tab only. The actions (back, forward, zoom, ...) are meant for the menus too:
// their enabled state is kept in line with the current tab. GUI thread only.
#pragma once

#include <QMainWindow>
#include <QPointer>
#include <functional>
#include <memory>

class CHMDocument;
class CHMRequestInterceptor;
class CHMSidebar;
class CHMTableOfContent;
class CHMWebView;
class CHMWebViewController;
class ITSSSchemeHandler;
class LinkItem;
class QMenu;
class QPrinter;
class QTabWidget;
class QToolButton;
class QWebEngineProfile;
class SidebarSplitter;

class CHMDocumentWindow : public QMainWindow {
    Q_OBJECT
public:
    // Takes a document that readFromURL has opened, sets the window up and starts loading the
    // page last read in the file (or its home page) in the first tab.
    explicit CHMDocumentWindow(std::unique_ptr<CHMDocument> document, QWidget* parent = nullptr);
    ~CHMDocumentWindow() override;

    CHMDocument* document() const { return m_document.get(); }
    QWebEngineProfile* profile() const { return m_profile; }
    CHMSidebar* sidebar() const { return m_sidebar; }
    SidebarSplitter* splitView() const { return m_splitView; }
    QTabWidget* docTabView() const { return m_docTabView; }
    int tabCount() const;
    CHMWebViewController* controllerAt(int index) const;
    CHMWebViewController* currentController() const;
    CHMWebView* curWebView() const;

    // The current tab's URL and label; null without a current tab (or, for the URL, before it
    // has loaded anything).
    QString currentURL() const;
    QString currentTitle() const;

    // Loading in the current tab. An invalid URL loads nothing.
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
    void printDocument();

    // Tabs.
    CHMWebViewController* createWebViewInTab();
    CHMWebViewController* addNewTab();
    // Closes the selected tab; the window when it is the only one.
    void closeTab();
    void closeTabAt(int index);
    // Selects the tab of the view.
    void showWebView(CHMWebView* view);
    void selectFirstWebViewTabItem();
    void selectPreviousWebViewTabItem();
    void selectNextWebViewTabItem();
    void selectLastWebViewTabItem();

    // Sidebar.
    void restoreSidebar();
    void hideSidebar();
    void toggleSidebar();

    QAction* toggleSidebarAction() const { return m_toggleSidebarAction; }
    QAction* homeAction() const { return m_homeAction; }
    QAction* backAction() const { return m_backAction; }
    QAction* forwardAction() const { return m_forwardAction; }
    QAction* zoomOutAction() const { return m_zoomOutAction; }
    QAction* zoomInAction() const { return m_zoomInAction; }
    QAction* printAction() const { return m_printAction; }
    QAction* exportAction() const { return m_exportAction; }
    QAction* newTabAction() const { return m_newTabAction; }
    QAction* closeTabAction() const { return m_closeTabAction; }
    QAction* nextTabAction() const { return m_nextTabAction; }
    QAction* previousTabAction() const { return m_previousTabAction; }
    QAction* firstTabAction() const { return m_firstTabAction; }
    QAction* lastTabAction() const { return m_lastTabAction; }

    static QString untitledLabel();

signals:
    // A page finished loading in view (after the window's own work for it).
    void pageLoadFinished(CHMWebView* view, bool ok);
    // A line a page of this window wrote with console.log.
    void consoleMessage(const QString& message);

private:
    void windowControllerDidLoadNib();
    void setupActions();
    void setupTabBar();
    void setupToolbar();
    void installUserStyleSheet();
    void insertReaderScript(const QString& name, const QString& source, bool runsOnSubFrames);
    void updateHistoryButton();
    void after_zoom();
    void webViewDidFinishLoad(CHMWebView* view, bool ok);
    void tabDidSelect(int index);
    // After a main-frame load: "highlight.js" again, then the sidebar search field's words
    // marked on the page that loaded (CHMDocumentWindowFind.cpp).
    void highlightSearchWordsHook(CHMWebView* view);
    void setTabLabel(CHMWebViewController* controller, const QString& label);
    void updateCloseButtons();
    CHMWebViewController* controllerOf(const CHMWebView* view) const;
    QString pageTitle(const CHMWebView* view) const;

    std::unique_ptr<CHMDocument> m_document;
    ITSSSchemeHandler* m_schemeHandler = nullptr;
    CHMRequestInterceptor* m_requestInterceptor = nullptr;
    QWebEngineProfile* m_profile = nullptr;
    SidebarSplitter* m_splitView = nullptr;
    CHMSidebar* m_sidebar = nullptr;
    QTabWidget* m_docTabView = nullptr;
    std::unique_ptr<QPrinter> m_printer;
    QPointer<CHMWebView> m_printingView;

    QAction* m_toggleSidebarAction = nullptr;
    QAction* m_homeAction = nullptr;
    QAction* m_backAction = nullptr;
    QAction* m_forwardAction = nullptr;
    QAction* m_zoomOutAction = nullptr;
    QAction* m_zoomInAction = nullptr;
    QAction* m_printAction = nullptr;
    QAction* m_exportAction = nullptr;
    QAction* m_newTabAction = nullptr;
    QAction* m_closeTabAction = nullptr;
    QAction* m_nextTabAction = nullptr;
    QAction* m_previousTabAction = nullptr;
    QAction* m_firstTabAction = nullptr;
    QAction* m_lastTabAction = nullptr;

    // Search: the sidebar's search field and its "Search" list (CHMDocumentWindowSearch.cpp).
    // A file search never waits for the index: asked for while the index is being built, it
    // shows that the file is being indexed and runs when the index is done.
public:
    // The tags of the search field's menu items.
    static constexpr int kSearchInFileTag = 1;
    static constexpr int kSearchInIndexTag = 2;

    // Run the search of the field's text: full text / keyword index. Empty text clears the list
    // and the marks of the search in the pages.
    void searchInFile();
    void searchInIndex();
    // Switch the field's mode, store it as the file's "search type", and search at once when
    // the field holds text.
    void setSearchInFile();
    void setSearchInIndex();
    void focusOnSearch();
    // The words of the search field, which every page loaded while it holds text marks.
    QString searchFieldText() const;
    bool isSearchInIndex() const { return m_searchType == kSearchInIndexTag; }
    // True while a file search waits for the index to be done.
    bool isSearchPending() const { return m_isSearchPending; }
    QMenu* searchMenu() const { return m_searchMenu; }
    QAction* focusOnSearchAction() const { return m_focusOnSearchAction; }

signals:
    // The "Search" list shows a new result, the indexing notice, or nothing.
    void searchListChanged();

private:
    void setupSearch();
    void setSearchType(int tag);
    void runSearch();
    void runFileSearch(const QString& text);
    void searchIndexDidFinish();
    void showSearchList(std::shared_ptr<CHMTableOfContent> list);
    void clearSearchList(bool removeHighlights);

    QMenu* m_searchMenu = nullptr;
    QAction* m_searchInFileItem = nullptr;
    QAction* m_searchInIndexItem = nullptr;
    QAction* m_focusOnSearchAction = nullptr;
    int m_searchType = kSearchInFileTag;
    bool m_isSearchPending = false;
    bool m_isClosing = false; // set first thing in the destructor
    QString m_pendingSearchText;

    // Text encodings: the toolbar's pop-up and the application's Text Encoding menu
    // (CHMDocumentWindowEncoding.cpp).
public:
    // Marks the document's choice in the application's menu and in this window's pop-up and
    // points the menu's items at this window.
    void setupEncodingMenu();
    // The document goes: both menus mark automatic; the application's items are disabled.
    void resetEncodingMenu();
    // Serves every tab in the encoding of the tag and reloads it; re-reads the contents and the
    // index. A tag the menus do not carry changes nothing (logged).
    void changeEncoding(int tag);
    // The encoding name of a menu tag; null for automatic (0) and unknown tags.
    QString getEncodingByTag(int tag) const;
    int customizedEncodingTag() const { return m_customizedEncodingTag; }
    QToolButton* textEncodingPopup() const { return m_textEncodingPopupOutlet; }

private:
    void setupEncoding();
    void showEncodingInPopup();

    QToolButton* m_textEncodingPopupOutlet = nullptr;
    int m_customizedEncodingTag = 0;

    // Find in page (CHMDocumentWindowFind.cpp). The marks are made and stepped through by
    // "highlight.js" in the reader's own script world of the page's main frame. Each method acts
    // on the tab of target, the selected tab's when target is null; the find bar's label of that
    // tab shows what came back.
public:
    // The selected tab's find bar, with the focus in its field.
    void showFindPanel();
    // Finds the text of the tab's find field: marks it and goes to the first match. An empty
    // field only removes the marks.
    void beginFind(CHMWebView* target = nullptr);
    void highlightString(const QString& text, CHMWebView* target = nullptr);
    void removeHighlight(CHMWebView* target = nullptr);
    void findNext(CHMWebView* target = nullptr);
    void findPrev(CHMWebView* target = nullptr);
    // Segment 0 of the previous/next control: findPrev; any other: findNext.
    void findInFile(int segment, CHMWebView* target = nullptr);
    // Hides the tab's find bar and removes the marks of its page.
    void doneFind(CHMWebView* target = nullptr);
    // Runs the script in the reader's own script world of the page's main frame; an exception
    // goes to the console as its message. The callback gets the script's value.
    void runJavascript(const QString& script, CHMWebView* target = nullptr,
                       const std::function<void(const QVariant&)>& callback = {});
    // Runs "highlight.js" with runJavascript (it keeps the marks a page already has).
    void loadJavascript(CHMWebView* target = nullptr);

    QAction* findAction() const { return m_findAction; }
    QAction* findNextAction() const { return m_findNextAction; }
    QAction* findPreviousAction() const { return m_findPreviousAction; }
    QAction* doneFindAction() const { return m_doneFindAction; }

private:
    void installHighlightScript();
    void setupFindActions();
    void connectFindBar(CHMWebViewController* controller);
    // Find Next / Find Previous: the step Return / Shift+Return makes in the selected tab's
    // bar (segment 1 / 0).
    void stepFind(int segment);
    void scrollToHighlight(int direction, CHMWebView* target);
    CHMWebView* findTarget(CHMWebView* target) const;

    QString m_highlightScript;
    QAction* m_findAction = nullptr;
    QAction* m_findNextAction = nullptr;
    QAction* m_findPreviousAction = nullptr;
    QAction* m_doneFindAction = nullptr;
};
