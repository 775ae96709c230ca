#include "CHMSearchResult.h"

#include "ScoredLinkItem.h"
#include "SearchHitEntries.h"

#include <utility>

CHMSearchResult::CHMSearchResult()
    : CHMTableOfContent(
          std::make_shared<ScoredLinkItem>(QStringLiteral("root"), QStringLiteral("/"), 0.0f)) {}

CHMSearchResult::CHMSearchResult(std::shared_ptr<const CHMTableOfContent> tableOfContent,
                                 std::shared_ptr<const CHMTableOfContent> indexContent)
    : CHMSearchResult() {
    _tableOfContent = std::move(tableOfContent);
    _indexContent = std::move(indexContent);
}

void CHMSearchResult::setHitEntries(std::shared_ptr<const SearchHitEntries> entries) {
    if (entries && entries->isBuiltFrom(_tableOfContent.get(), _indexContent.get()))
        _hitEntries = std::move(entries);
}

bool CHMSearchResult::addPath(const QString& path, float score) {
    const LinkItem* found = nullptr;
    if (_hitEntries) {
        found = _hitEntries->entryFor(path);
    } else {
        found = _tableOfContent ? _tableOfContent->itemForPath(path, nullptr) : nullptr;
        if (!found && _indexContent)
            found = _indexContent->itemForPath(path, nullptr);
    }
    if (!found)
        return false;
    rootItems()->appendChild(std::make_shared<ScoredLinkItem>(found->name(), found->path(), score));
    return true;
}
