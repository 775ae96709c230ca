// One entry of a table of contents, a keyword index or a result list.
//
// Ownership: a parent owns its children through shared pointers; a filtered tree may hold the
// same items as the tree it was filtered from. parent() is a plain back pointer to the first
// parent an item was appended to; it is cleared when that parent goes away, so it is never left
// dangling. A root has no parent.
//
// A null QString stands for "no name" / "no path". The child list is either absent or present
// (possibly empty): it is created by appendChild(), dropped by removeChild() when the last child
// leaves, and purge() leaves it present even when it empties it.
//
// Every walk over the tree (find, enumerate, purge, description, destruction) works with an
// explicit work list, so a tree of any depth is safe. Not thread-safe: one thread at a time.
#pragma once

#include <QString>
#include <QtGlobal>
#include <functional>
#include <memory>
#include <vector>

class LinkItem;
using LinkItemPtr = std::shared_ptr<LinkItem>;

class LinkItem : public std::enable_shared_from_this<LinkItem> {
public:
    LinkItem();
    LinkItem(const QString& name, const QString& path);
    virtual ~LinkItem();

    LinkItem(const LinkItem&) = delete;
    LinkItem& operator=(const LinkItem&) = delete;

    const QString& name() const { return _name; }
    void setName(const QString& name) { _name = name; }
    const QString& path() const { return _path; }
    void setPath(const QString& path) { _path = path; }
    quint64 pageID() const { return _pageID; }
    void setPageID(quint64 pageID) { _pageID = pageID; }

    // The sort key: the name in upper case; null when the item has no name.
    QString uppercaseName() const;

    LinkItem* parent() const { return _parent; }
    bool hasChildList() const { return _hasChildList; }
    const std::vector<LinkItemPtr>& children() const { return _children; }
    quint64 numberOfChildren() const { return _children.size(); }
    // nullptr when index is out of range.
    LinkItem* childAtIndex(int index) const;
    // The row of child among the children, or -1.
    int indexOfChild(const LinkItem* child) const;

    // Appends (creating the child list when absent). The child's parent becomes this item unless
    // it already has one, which happens when a filtered tree shares a top-level item.
    void appendChild(const LinkItemPtr& child);
    // Removes the last child; the child list is dropped when it becomes empty. No-op without one.
    void removeChild();

    // Pre-order search for the first item whose path is the searched path, or begins with it
    // followed by '#', '?' or ';'. On success, when stack is given, the ancestors of the found
    // item (this item included, the found item excluded) are appended innermost first.
    // An empty path, or an item without a path, never matches.
    LinkItem* findByPath(const QString& path, std::vector<LinkItem*>* stack);

    // Pre-order visit of this item and all items below it; items whose path is "/" are not passed
    // to visit, but their children are.
    void enumerateItems(const std::function<void(LinkItem*)>& visit);

    // Orders the children (one level) by uppercaseName(), items without a name first; stable.
    virtual void sort();

    // Removes, at every level, children that have no name, no path and no children. A child is
    // judged before its own children are purged, so one that only held empty children stays.
    void purge();

    // "{\n\tname:...\n\tpath:...\n\tchildren:...\n}" with nested descriptions for the children;
    // a missing value reads "(null)".
    QString description() const;

protected:
    // For subclasses that reorder the children; the set of children must stay the same.
    std::vector<LinkItemPtr>& childList() { return _children; }

private:
    QString _name;
    QString _path;
    std::vector<LinkItemPtr> _children;
    bool _hasChildList = true;
    quint64 _pageID = 0;
    LinkItem* _parent = nullptr;
};
