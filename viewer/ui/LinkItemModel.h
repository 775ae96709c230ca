// An item model over one sitemap tree (table of contents, keyword index, filtered index or
// full-text result list) for the sidebar's lists.
//
// One column; the display text is the item's name. With a place function (the search list), the
// tooltip adds where the row's page is (its place, outermost first), and top-level rows whose
// name another top-level row shares show the innermost step of that place after the name, so
// rows named alike can be told apart in a narrow sidebar. The top level is
// the children of the tree's root (the root itself is never shown). Each index's internal pointer
// is its LinkItem.
//
// Parent lookup does not trust LinkItem::parent() at the top level: a filtered tree shares its
// top-level items with the tree it was filtered from, so their parent() is the other tree's root
// (or null once that tree is gone). The model keeps its own table of top-level rows and only
// follows parent() below that level, where every item's parent is inside the same subtree.
//
// Ownership: the model keeps the tree alive through its shared pointer, so every LinkItem* it
// hands out stays valid until the next setTree(). A null tree is an empty model. GUI thread only.
#pragma once

#include <QAbstractItemModel>
#include <QHash>
#include <QSet>
#include <QStringList>
#include <functional>
#include <memory>

class CHMTableOfContent;
class LinkItem;

class LinkItemModel : public QAbstractItemModel {
    Q_OBJECT
public:
    explicit LinkItemModel(QObject* parent = nullptr);
    ~LinkItemModel() override;

    // Replaces the tree (a reset: views lose their selection and expansion without signals of
    // selection change). Setting the same tree again re-reads it, for a list filled in place.
    void setTree(std::shared_ptr<CHMTableOfContent> tree);
    const std::shared_ptr<CHMTableOfContent>& tree() const { return m_tree; }
    // Where an item's page is, outermost first; empty for "nowhere worth saying". Applies from
    // the next setTree().
    void setPlaceFunction(std::function<QStringList(const LinkItem&)> placeOf);

    // nullptr for an invalid index.
    LinkItem* itemForIndex(const QModelIndex& index) const;
    // The index of an item of this model's tree; invalid for nullptr, the root, or an item that
    // is not in the tree.
    QModelIndex indexForItem(LinkItem* item) const;

    QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    bool hasChildren(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

private:
    LinkItem* rootItem() const;
    // The row of item below its parent, or -1 when it is not in the tree.
    int rowOfItem(const LinkItem* item) const;

    QStringList placeOf(const LinkItem* item) const;

    std::shared_ptr<CHMTableOfContent> m_tree;
    std::function<QStringList(const LinkItem&)> m_placeOf;
    QSet<QString> m_sharedNames; // top-level names that more than one row carries
    mutable QHash<const LinkItem*, QStringList> m_placeCache;
    QHash<const LinkItem*, int> m_topLevelRows;
    mutable QHash<const LinkItem*, int> m_rowCache; // rows below the top level, filled on demand
};
