#include "LinkItemModel.h"

#include "CHMTableOfContent.h"
#include "LinkItem.h"

#include <limits>

namespace {

int clampedCount(quint64 count) {
    return count > quint64(std::numeric_limits<int>::max()) ? std::numeric_limits<int>::max()
                                                            : int(count);
}

} // namespace

LinkItemModel::LinkItemModel(QObject* parent) : QAbstractItemModel(parent) {}

LinkItemModel::~LinkItemModel() = default;

void LinkItemModel::setTree(std::shared_ptr<CHMTableOfContent> tree) {
    beginResetModel();
    m_tree = std::move(tree);
    m_topLevelRows.clear();
    m_rowCache.clear();
    m_sharedNames.clear();
    m_placeCache.clear();
    if (LinkItem* root = rootItem()) {
        const auto& children = root->children();
        m_topLevelRows.reserve(clampedCount(children.size()));
        QSet<QString> seen;
        for (size_t row = 0; row < children.size(); ++row) {
            // A tree may list one item twice; its first row is the one the item stands at.
            m_topLevelRows.insert(children[row].get(), int(row));
            if (m_placeOf) {
                const QString& name = children[row]->name();
                if (seen.contains(name))
                    m_sharedNames.insert(name);
                else
                    seen.insert(name);
            }
        }
    }
    endResetModel();
}

LinkItem* LinkItemModel::rootItem() const {
    return m_tree ? m_tree->rootItems() : nullptr;
}

LinkItem* LinkItemModel::itemForIndex(const QModelIndex& index) const {
    if (!index.isValid() || index.model() != this) {
        return nullptr;
    }
    return static_cast<LinkItem*>(index.internalPointer());
}

int LinkItemModel::rowOfItem(const LinkItem* item) const {
    if (!item) {
        return -1;
    }
    if (auto top = m_topLevelRows.constFind(item); top != m_topLevelRows.constEnd()) {
        return top.value();
    }
    if (auto cached = m_rowCache.constFind(item); cached != m_rowCache.constEnd()) {
        return cached.value();
    }
    const LinkItem* parent = item->parent();
    if (!parent) {
        return -1;
    }
    const int row = parent->indexOfChild(item);
    if (row >= 0) {
        m_rowCache.insert(item, row);
    }
    return row;
}

QModelIndex LinkItemModel::indexForItem(LinkItem* item) const {
    LinkItem* root = rootItem();
    if (!item || !root || item == root) {
        return {};
    }
    // Walk up to a top-level item of this tree, then come back down building the indexes. An
    // item whose chain never reaches this tree's top level is not in the tree.
    std::vector<LinkItem*> chain;
    for (LinkItem* step = item; step; step = step->parent()) {
        if (step == root) {
            return {};
        }
        chain.push_back(step);
        if (m_topLevelRows.contains(step)) {
            QModelIndex index;
            for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
                const int row = rowOfItem(*it);
                if (row < 0) {
                    return {};
                }
                index = createIndex(row, 0, *it);
            }
            return index;
        }
    }
    return {};
}

QModelIndex LinkItemModel::index(int row, int column, const QModelIndex& parent) const {
    if (row < 0 || column != 0) {
        return {};
    }
    const LinkItem* parentItem = parent.isValid() ? itemForIndex(parent) : rootItem();
    if (!parentItem) {
        return {};
    }
    LinkItem* child = parentItem->childAtIndex(row);
    if (!child) {
        return {};
    }
    if (parent.isValid()) {
        m_rowCache.insert(child, row);
    }
    return createIndex(row, 0, child);
}

QModelIndex LinkItemModel::parent(const QModelIndex& child) const {
    const LinkItem* item = itemForIndex(child);
    if (!item || m_topLevelRows.contains(item)) {
        return {};
    }
    LinkItem* parentItem = item->parent();
    if (!parentItem || parentItem == rootItem()) {
        return {};
    }
    const int row = rowOfItem(parentItem);
    return row < 0 ? QModelIndex() : createIndex(row, 0, parentItem);
}

int LinkItemModel::rowCount(const QModelIndex& parent) const {
    if (parent.column() > 0) {
        return 0;
    }
    const LinkItem* item = parent.isValid() ? itemForIndex(parent) : rootItem();
    return item ? clampedCount(item->numberOfChildren()) : 0;
}

int LinkItemModel::columnCount(const QModelIndex&) const {
    return 1;
}

bool LinkItemModel::hasChildren(const QModelIndex& parent) const {
    return rowCount(parent) > 0;
}

QVariant LinkItemModel::data(const QModelIndex& index, int role) const {
    const LinkItem* item = itemForIndex(index);
    if (!item) {
        return {};
    }
    const QString name = item->name().isNull() ? QString("") : item->name();
    switch (role) {
    case Qt::DisplayRole: {
        if (m_sharedNames.isEmpty() || index.parent().isValid() || !m_sharedNames.contains(name))
            return name;
        const QStringList place = placeOf(item);
        return place.isEmpty() ? name : name + QStringLiteral(" — ") + place.constLast();
    }
    case Qt::ToolTipRole: { // the sidebar is narrow: long titles are cut off
        const QStringList place = placeOf(item);
        return place.isEmpty() ? name
                               : name + QLatin1Char('\n') + place.join(QStringLiteral(" › "));
    }
    default:
        return {};
    }
}

void LinkItemModel::setPlaceFunction(std::function<QStringList(const LinkItem&)> placeOf) {
    m_placeOf = std::move(placeOf);
}

QStringList LinkItemModel::placeOf(const LinkItem* item) const {
    if (!m_placeOf)
        return {};
    auto cached = m_placeCache.constFind(item);
    if (cached != m_placeCache.constEnd())
        return *cached;
    const QStringList place = m_placeOf(*item);
    m_placeCache.insert(item, place);
    return place;
}

Qt::ItemFlags LinkItemModel::flags(const QModelIndex& index) const {
    if (!itemForIndex(index)) {
        return Qt::NoItemFlags;
    }
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable;
}
