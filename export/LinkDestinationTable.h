// The link targets of an export, found by URL.
//
// Keys are target URLs "itss://chm/<path as listed in the page list>[#anchor]", lower-cased.
// Every item is also kept in creation order, so that the targets of one HTML page are a range
// of `items()` that the page's printed pages are matched against. Filled on the exporter's
// thread page by page; the link resolution only reads it.
#pragma once

#include "LinkDestinationItem.h"

#include <QHash>
#include <QString>
#include <deque>

class LinkDestinationTable {
public:
    // The target of a page itself (offset 0); it replaces an earlier target under the same URL.
    LinkDestinationItem* addPageTarget(const QString& url, quint64 pageID);
    // An anchor target; null and nothing added when the URL already has one (the first element
    // with a given name wins).
    LinkDestinationItem* addAnchorTarget(const QString& url, quint64 pageID, quint64 charIndex);

    // The placed target a link URL leads to: the URL itself, then its percent escapes decoded,
    // then the same two without the fragment (the page itself). Case is ignored. A target that
    // no printed page claimed counts as absent, so the lookup goes on with the page.
    const LinkDestinationItem* IsDestinationLinkExistForPath(const QString& url) const;

    bool isEmpty() const { return m_items.empty(); }
    std::size_t count() const { return m_items.size(); }
    LinkDestinationItem& itemAt(std::size_t index) { return *m_items[index]; }
    const LinkDestinationItem* itemForKey(const QString& url) const;

    // The anchor URL of an element of the page listed as pagePath: a fragment of the listed
    // path is replaced by the anchor's name.
    static QString anchorURL(const QString& pagePath, const QString& anchorName);
    // The URL of the page itself, without the fragment a listed path may carry.
    static QString pageURL(const QString& pagePath);

private:
    const LinkDestinationItem* placedItem(const QString& key) const;

    std::deque<LinkDestinationItem> m_storage;
    std::vector<LinkDestinationItem*> m_items;
    QHash<QString, LinkDestinationItem*> m_byURL;
};
