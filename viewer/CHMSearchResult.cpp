#include "CHMSearchResult.h"

#include "ScoredLinkItem.h"
#include "SearchHitEntries.h"

#include <utility>

namespace {

// Whether the item hangs below the root (its first parent chain leads there).
bool isInTree(const LinkItem* item, const LinkItem* root) {
    for (const LinkItem* up = item; up; up = up->parent()) {
        if (up == root)
            return true;
    }
    return false;
}

} // namespace

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
    addHit(found, path, score);
    return true;
}

void CHMSearchResult::addHit(const LinkItem* entry, const QString& page, float score) {
    auto hit = std::make_shared<ScoredLinkItem>(entry->name(), entry->path(), score);
    _found.insert(hit.get(), Found{entry, page.startsWith(u'/') ? page : QLatin1Char('/') + page});
    rootItems()->appendChild(hit);
}

void CHMSearchResult::addTitledPage(const QString& path, const QString& title, float score) {
    const QString page = path.startsWith(u'/') ? path.mid(1) : path;
    auto hit = std::make_shared<ScoredLinkItem>(title.isEmpty() ? page : title, page, score);
    _found.insert(hit.get(), Found{nullptr, QLatin1Char('/') + page});
    rootItems()->appendChild(hit);
}

CHMSearchResult::HitLocation CHMSearchResult::locationOf(const LinkItem* hit) const {
    const auto it = _found.constFind(hit);
    if (it == _found.cend())
        return {};
    HitLocation location;
    location.page = it->page;
    // Only the contents give a place; an index entry's parents are keywords.
    const LinkItem* entry = it->entry;
    if (entry && _tableOfContent && isInTree(entry, _tableOfContent->rootItems())) {
        for (const LinkItem* up = entry->parent(); up && up->parent(); up = up->parent())
            location.contentsTrail.prepend(up->name());
    }
    return location;
}
