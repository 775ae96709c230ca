#include "ScoredLinkItem.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

ScoredLinkItem::ScoredLinkItem(const QString& name, const QString& path, float score)
    : LinkItem(name, path), _relScore(score) {}

void ScoredLinkItem::sort() {
    // A NaN key would break the ordering the sort relies on, so it counts as the lowest score.
    auto key = [](const LinkItem& item) {
        const auto* scored = dynamic_cast<const ScoredLinkItem*>(&item);
        if (!scored || std::isnan(scored->relScore()))
            return -std::numeric_limits<float>::infinity();
        return scored->relScore();
    };
    auto better = [&key](const LinkItemPtr& a, const LinkItemPtr& b) { return key(*a) > key(*b); };
    // A search adds its hits best first: that order stands as it is.
    if (std::is_sorted(children().begin(), children().end(), better))
        return;
    std::vector<std::pair<float, LinkItemPtr>> keyed;
    keyed.reserve(children().size());
    for (const LinkItemPtr& child : children())
        keyed.emplace_back(key(*child), child);
    std::stable_sort(keyed.begin(), keyed.end(),
                     [](const auto& a, const auto& b) { return a.first > b.first; });
    std::vector<LinkItemPtr>& list = childList();
    for (size_t i = 0; i < keyed.size(); ++i)
        list[i] = std::move(keyed[i].second);
}
