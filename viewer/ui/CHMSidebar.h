// The sidebar of a document window: the search field above three lists in tabs, "Contents"
// (table of contents), "Index" (keyword index) and "Search" (search hits). The identifiers are
// each list's objectName; the tab texts read the same.
//
// A row the user selects in the current list asks for its page (changeTopic). Selections the
// window makes itself (locateTOC, deselectAll, new sources) run with
// m_isSelectionChangedProgrammatically set and ask for nothing, so a loaded page is not loaded
// again when its row is marked; nor does the row a right click selects for the context menu,
// whose commands load it (here or in a new tab). The items passed in signals belong to the list's
// tree and stay valid until that list's source is replaced. GUI thread only.
#pragma once

#include <QWidget>
#include <functional>
#include <memory>

class CHMOutlineView;
class CHMTableOfContent;
class LinkItem;
class LinkItemModel;
class QLineEdit;
class QTabWidget;

class CHMSidebar : public QWidget {
    Q_OBJECT
public:
    static const QString kContents; // "Contents"
    static const QString kIndex;    // "Index"
    static const QString kSearch;   // "Search"

    explicit CHMSidebar(QWidget* parent = nullptr);
    ~CHMSidebar() override;

    // Sources may be null (an empty list). The search list also takes a filtered index.
    void setTocSource(std::shared_ptr<CHMTableOfContent> toc);
    void setIndexSource(std::shared_ptr<CHMTableOfContent> index);
    void setSearchSource(std::shared_ptr<CHMTableOfContent> result);
    // Where a hit's page is, for the search list's tooltips and rows named alike.
    void setSearchPlaceFunction(std::function<QStringList(const LinkItem&)> placeOf);

    QLineEdit* searchField() const { return m_searchField; }
    QTabWidget* tabWidget() const { return m_tabs; }
    CHMOutlineView* tocView() const { return m_tocView; }
    CHMOutlineView* indexView() const { return m_indexView; }
    CHMOutlineView* searchView() const { return m_searchView; }
    // The list for "Contents", "Index" or "Search"; nullptr for any other identifier.
    CHMOutlineView* viewForIdentifier(const QString& identifier) const;

    // The identifier of the list in the selected tab.
    QString currentListIdentifier() const;
    // Brings the list with that identifier to the front; false for an unknown identifier.
    bool showList(const QString& identifier);

    // The selected item of the current list / of the contents; nullptr when no row is selected.
    LinkItem* selectedItem() const;
    LinkItem* selectedTocItem() const;

    // Marks the contents row of the page at path (a container path, leading "/" allowed):
    // expands its ancestors, selects exactly that row and scrolls to it, without asking for the
    // page. A path with no entry clears the contents selection, so no row claims a page that is
    // not shown. Answers the item, or nullptr.
    LinkItem* locateTOC(const QString& path);
    // Clears the selection of all three lists without asking for a page.
    void deselectAll();

signals:
    void changeTopic(LinkItem* item);
    void openInNewTab(LinkItem* item);
    void searchRequested(const QString& text);

private:
    CHMOutlineView* makeList(const QString& identifier, LinkItemModel* model);
    void listSelectionChanged();
    LinkItem* itemOfView(const CHMOutlineView* view, const QModelIndex& index) const;

    QLineEdit* m_searchField;
    QTabWidget* m_tabs;
    LinkItemModel* m_tocModel;
    LinkItemModel* m_indexModel;
    LinkItemModel* m_searchModel;
    CHMOutlineView* m_tocView;
    CHMOutlineView* m_indexView;
    CHMOutlineView* m_searchView;
    bool m_isSelectionChangedProgrammatically = false;
};
