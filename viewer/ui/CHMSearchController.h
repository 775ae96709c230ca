// The searches of one document window: the sidebar's search field, its two-item mode menu, and
// the "Search" list that shows full-text hits or the keyword index filtered by the typed text.
//
// A file search never waits for the index: asked for while the index is being built, the list
// says that the file is being indexed and the search runs when the index is done. Every hit row
// says where its page is (its place in the contents, or its path) in its tooltip, and rows that
// share a name carry that place in their text too, so hits named alike can be told apart. When
// the field's text changes the marks of the previous search leave the shown page. An index
// search that finds nothing, and a search in a book without an index, say so in the list.
// Until the window has the sitemaps (sitemapsDidLoad) an index search waits for the keyword
// index instead of saying that the book has none.
//
// The controller works on the document, the sidebar and the splitter that shows the sidebar; it
// asks the window for nothing and tells it what to do through its signals. The window adds
// focusOnSearchAction() to itself so that its shortcut works. Owned by the window, which
// outlives it; GUI thread only.
#pragma once

#include <QObject>
#include <QString>
#include <memory>

class CHMDocument;
class CHMSidebar;
class CHMTableOfContent;
class LinkItem;
class QAction;
class QMenu;
class SidebarSplitter;

class CHMSearchController : public QObject {
    Q_OBJECT
public:
    // The tags of the search field's menu items.
    static constexpr int kSearchInFileTag = 1;
    static constexpr int kSearchInIndexTag = 2;

    // Sets the field and its menu up and applies the file's "search type" and, once per
    // process, the "search" default.
    CHMSearchController(CHMDocument& document, CHMSidebar& sidebar, SidebarSplitter& splitView);
    ~CHMSearchController() override;

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

    // Where a hit's page is: the contents entries above its entry, outermost first, or its
    // path when the contents do not list it below a heading.
    QStringList locationOf(const LinkItem& hit) const;

    // The window has the document's first trees: an index search that waited for them runs.
    void sitemapsDidLoad();
    // Starts building the document's full-text index (once); the window calls it when the
    // trees are in (hits are named by the contents) and the first page is up.
    void startSearchIndex();

signals:
    // The "Search" list shows a new result, a notice, or nothing.
    void searchListChanged();
    // The field no longer holds the words whose marks the shown page has: they should go.
    void highlightsOutdated();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void setSearchType(int tag);
    void runSearch();
    void runFileSearch(const QString& text);
    void searchIndexDidFinish();
    void showSearchList(std::shared_ptr<CHMTableOfContent> list);
    void showNotice(const QString& text);
    void clearSearchList(bool removeHighlights);
    void describeHits(CHMTableOfContent& list) const;
    void searchTextChanged(const QString& text);

    CHMDocument& m_document;
    CHMSidebar& m_sidebar;
    SidebarSplitter& m_splitView;
    QMenu* m_searchMenu = nullptr;
    QAction* m_searchInFileItem = nullptr;
    QAction* m_searchInIndexItem = nullptr;
    QAction* m_focusOnSearchAction = nullptr;
    int m_searchType = kSearchInFileTag;
    bool m_isSearchPending = false;
    // The window's first trees of the sitemaps are in (sitemapsDidLoad).
    bool m_sitemapsShown = false;
    QString m_pendingSearchText;
};
