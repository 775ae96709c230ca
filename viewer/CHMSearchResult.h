// The list of full-text hits shown in the sidebar's search list.
//
// Its root is a ScoredLinkItem ("root", "/", 0); each hit is a new ScoredLinkItem that copies the
// name and path of the entry it stands for, looked up in the table of contents first and in the
// index second (both shared with the document, either may be missing). sort() orders the hits by
// score, highest first. No page list. Filled by one search at a time; not thread-safe.
#pragma once

#include "CHMTableOfContent.h"

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

    // A lookup table built from the same two trees: addPath then answers without walking them
    // for every hit.
    void setHitEntries(std::shared_ptr<const SearchHitEntries> entries);

private:
    std::shared_ptr<const CHMTableOfContent> _tableOfContent;
    std::shared_ptr<const CHMTableOfContent> _indexContent;
    std::shared_ptr<const SearchHitEntries> _hitEntries;
};
