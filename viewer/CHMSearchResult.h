// The list of full-text hits shown in the sidebar's search list.
//
// Its root is a ScoredLinkItem ("root", "/", 0); each hit is a new ScoredLinkItem that copies the
// name and path of the entry it stands for, looked up in the table of contents first and in the
// index second (both shared with the document, either may be missing). sort() orders the hits by
// score, highest first. No page list. Filled by one search at a time; not thread-safe.
//
// Hits with equal names (dozens of "bucket Property" rows in an API reference) are told apart by
// their location: the names of the contents entries above the hit's entry, and the page it was
// found on. foundCount() tells how many pages matched, which may exceed the rows listed when
// some matched pages have no entry.
#pragma once

#include "CHMTableOfContent.h"

#include <QHash>
#include <QStringList>
#include <memory>

class SearchHitEntries;

class CHMSearchResult : public CHMTableOfContent {
public:
    CHMSearchResult();
    CHMSearchResult(std::shared_ptr<const CHMTableOfContent> tableOfContent,
                    std::shared_ptr<const CHMTableOfContent> indexContent);

    const std::shared_ptr<const CHMTableOfContent>& tableOfContent() const {
        return _tableOfContent;
    }
    const std::shared_ptr<const CHMTableOfContent>& indexContent() const { return _indexContent; }

    // Lists a hit for the page at path with score; answers false, listing nothing, when neither
    // tree has an entry for the page.
    bool addPath(const QString& path, float score);

    // Lists a hit for the page under `entry`, an item of one of the two trees (what addPath
    // looks up, when the caller has done so already).
    void addHit(const LinkItem* entry, const QString& page, float score);

    // Room for this many hits, so that a search with thousands of them does not grow the list
    // step by step.
    void reserveHits(qsizetype count) { _found.reserve(count); }

    // Lists a hit under the page's own title (its path when it has none), for a book without
    // contents.
    void addTitledPage(const QString& path, const QString& title, float score);

    // A lookup table built from the same two trees: addPath then answers without walking them
    // for every hit.
    void setHitEntries(std::shared_ptr<const SearchHitEntries> entries);

    // Where a hit listed here was found.
    struct HitLocation {
        // Names of the contents entries above the hit's entry, outermost first; empty when the
        // hit is listed under a top-level entry, an index entry or a page title.
        QStringList contentsTrail;
        // The page that matched, as stored in the book ("/html/page.htm").
        QString page;
    };
    // The location of one of the rows (rootItems()->children()); empty for any other item.
    HitLocation locationOf(const LinkItem* hit) const;

    // Pages that matched the search, listed or not; set by the search.
    quint64 foundCount() const { return _foundCount; }
    void setFoundCount(quint64 count) { _foundCount = count; }

private:
    std::shared_ptr<const CHMTableOfContent> _tableOfContent;
    std::shared_ptr<const CHMTableOfContent> _indexContent;
    std::shared_ptr<const SearchHitEntries> _hitEntries;
    // The entry each row stands for (in one of the two trees, which this result keeps alive)
    // and the page it was found on; the trail is made only when asked for.
    struct Found {
        const LinkItem* entry = nullptr;
        QString page;
    };
    QHash<const LinkItem*, Found> _found;
    quint64 _foundCount = 0;
};
