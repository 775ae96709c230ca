// One sitemap tree (table of contents or keyword index) and its page list.
//
// Built from the bytes of an ".hhc" or ".hhk" sitemap: nested UL/LI lists whose OBJECT/PARAM
// entries name an item ("Name" or "Keyword") and its page ("Local"). Items hang below a synthetic
// root named "root" with path "/". The page list holds the tree's items with a path in reading
// order, consecutive entries of one page counted once; each item's pageID is its page's index.
//
// Limits against hostile sitemaps: items are never nested deeper than kMaxDepth levels below the
// root (a list opened at the deepest level holds its entries as siblings of its owner), and at
// most kMaxItems items are made (later entries are dropped and counted: truncatedItemCount()). Bad
// markup never fails: whatever the HTML parser recovers becomes the tree. What the bytes given
// may cost is the caller's to bound (SitemapBytes).
//
// A tree is complete when its constructor returns; afterwards only sort() changes it. Items are
// shared pointers so that a filtered tree can hold the same items. Not thread-safe.
#pragma once

#include "LinkItem.h"

#include <QByteArray>
#include <QString>
#include <atomic>
#include <functional>
#include <memory>
#include <vector>

class CHMTableOfContent {
public:
    static constexpr int kMaxDepth = 256;
    // Each item costs a few hundred bytes here and more where it is shown or exported (a PDF
    // outline entry is some kilobytes): 100,000 keeps a list within a few hundred MiB
    // everywhere, and is ten times the entries of the largest real books.
    static constexpr quint64 kMaxItems = 100000;

    // Parses a sitemap. A null or empty encodingName means "iso_8859_1". Null or empty data
    // gives a tree with only the root. A byte invalid in the encoding becomes U+FFFD; a NUL byte
    // ends the name or path it is in.
    CHMTableOfContent(const QByteArray& data, const QString& encodingName);
    // The same, ending the parse early (keeping the entries read so far) once *stop is set;
    // stop may be set from another thread and must outlive the constructor.
    CHMTableOfContent(const QByteArray& data, const QString& encodingName,
                      const std::atomic<bool>* stop);

    // A tree whose root holds the top-level items of toc (the same objects) that predicate
    // accepts, in order; nothing deeper is tested. A null toc gives an empty root. No page list.
    CHMTableOfContent(const CHMTableOfContent* toc,
                      const std::function<bool(const LinkItem&)>& predicate);

    // The keyword-index search: top-level items whose name begins with text, ignoring case.
    static std::unique_ptr<CHMTableOfContent> filterByNamePrefix(const CHMTableOfContent* toc,
                                                                 const QString& text);

    virtual ~CHMTableOfContent();
    CHMTableOfContent(const CHMTableOfContent&) = delete;
    CHMTableOfContent& operator=(const CHMTableOfContent&) = delete;

    LinkItem* rootItems() const { return _rootItems.get(); }
    const std::vector<LinkItemPtr>& pageList() const { return _pageList; }
    quint64 rootChildrenCount() const { return _rootItems->numberOfChildren(); }

    // The first item (pre-order) whose path is path, without one leading "/", or that path
    // followed by "#", "?" or ";"; failing that, the same with the path percent-escaped as UTF-8.
    // With a stack, the found item's ancestors are appended innermost first, root last.
    LinkItem* itemForPath(const QString& path, std::vector<LinkItem*>* stack) const;

    // Sorts the top level only.
    virtual void sort();

    // The page after / before the item's page; nullptr at the ends. A null item counts as page 0.
    LinkItem* getNextPage(const LinkItem* item) const;
    LinkItem* getPrevPage(const LinkItem* item) const;

    // Whether two sitemap paths name the same page: both resolved as URLs against one fixed
    // base, compared by decoded path without query, fragment or ";" parameters, dot segments
    // resolved. A path that is no URL at all never names the same page.
    static bool isSamePage(const QString& a, const QString& b);

    // Parse steps, driven by the sitemap callbacks.
    void push_item();
    void new_item();
    void pop_item();
    // The item that parameters apply to; nullptr once kMaxItems is reached (they are dropped).
    LinkItem* curItem() const { return _curItem; }
    // Whether kMaxItems items have been made, or the parse was told to stop: the rest of a
    // sitemap need not be read.
    bool isFull() const {
        return _itemCount >= kMaxItems || (_stop && _stop->load(std::memory_order_relaxed));
    }
    void setCurItem(LinkItem* item);
    // How many entries of the sitemap were left out because the tree reached kMaxItems (0 when
    // the whole sitemap was read); the user is told that the list was cut and by how much.
    quint64 truncatedItemCount() const { return _truncatedItemCount; }
    // How many entries were read (made into items, empty ones included) before the cut.
    quint64 readItemCount() const { return _itemCount; }
    void addTruncatedItems(quint64 count) { _truncatedItemCount += count; }
    // Lists the item's page unless it repeats the last listed page; sets its pageID.
    void addToPageList(LinkItem* item);

protected:
    // An empty tree with the given root, for result lists.
    explicit CHMTableOfContent(LinkItemPtr root);

private:
    struct OpenList {
        LinkItem* owner; // the item that was current when the list opened
        int ownerDepth;
    };

    LinkItemPtr _rootItems;
    std::vector<OpenList> _itemStack;
    std::vector<LinkItemPtr> _pageList;
    QString _lastPageKey; // pagePathKey() of the last listed page, kept to spare re-parsing
    LinkItem* _curItem = nullptr;
    int _curDepth = 0;
    quint64 _itemCount = 0;
    quint64 _truncatedItemCount = 0;
    const std::atomic<bool>* _stop = nullptr;
};
