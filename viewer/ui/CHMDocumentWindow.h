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
#include <memory>

class CHMDocument;
class CHMRequestInterceptor;
class CHMSidebar;
class CHMWebView;
class CHMWebViewController;
class ITSSSchemeHandler;
class LinkItem;
class QPrinter;
class QTabWidget;
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
    // Runs the script in the reader's own script world of the current page; an exception goes
    // to the console as its message.
    void runJavascript(const QString& script);
    // Runs the resource "highlight.js" with runJavascript.
    void loadJavascript();

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
    void updateHistoryButton();
    void after_zoom();
    void webViewDidFinishLoad(CHMWebView* view, bool ok);
    void tabDidSelect(int index);
    // Marks the words of the last search on a loaded page; the search issue fills it.
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
};
