#include "SearchHitEntries.h"

#include "CHMTableOfContent.h"
#include "LinkItem.h"

#include <QUrl>
#include <algorithm>
#include <limits>
#include <utility>
#include <vector>

namespace {

// What ends the page part of an entry's path.
bool isPageEnd(QChar c) {
    return c == u'#' || c == u'?' || c == u';';
}

QString pageOf(const QString& path) {
    for (qsizetype i = 0; i < path.size(); ++i) {
        if (isPageEnd(path[i]))
            return path.left(i);
    }
    return path;
}

// The escaping itemForPath tries second; it leaves "#", "?" and ";" as they are.
QString escaped(const QString& page) {
    return QString::fromLatin1(
        QUrl::toPercentEncoding(page, QByteArrayLiteral("!#$&'()*+,/:;=?@~")));
}

} // namespace

SearchHitEntries::SearchHitEntries(std::shared_ptr<const CHMTableOfContent> tableOfContent,
                                   std::shared_ptr<const CHMTableOfContent> indexContent)
    : m_tableOfContent(std::move(tableOfContent)), m_indexContent(std::move(indexContent)) {
    m_tocPages = pagesOf(m_tableOfContent.get(), &m_tocCount);
    qsizetype indexCount = 0;
    m_indexPages = pagesOf(m_indexContent.get(), &indexCount);
}

SearchHitEntries::PageTable SearchHitEntries::pagesOf(const CHMTableOfContent* tree,
                                                      qsizetype* count) {
    PageTable pages;
    *count = 0;
    if (!tree)
        return pages;
    // Pre-order, the root first, as itemForPath walks; the first item of a page wins.
    std::vector<const LinkItem*> work{tree->rootItems()};
    while (!work.empty()) {
        const LinkItem* item = work.back();
        work.pop_back();
        if (!item->path().isNull()) {
            const QString page = pageOf(item->path());
            if (!pages.contains(page))
                pages.insert(page, Entry{item, *count});
        }
        ++*count;
        const auto& children = item->children();
        for (auto child = children.rbegin(); child != children.rend(); ++child)
            work.push_back(child->get());
    }
    return pages;
}

const SearchHitEntries::Entry* SearchHitEntries::find(const PageTable& pages, const QString& page) {
    if (const auto it = pages.constFind(page); it != pages.cend())
        return &it.value();
    const QString escapedPage = escaped(page);
    if (escapedPage == page)
        return nullptr;
    const auto it = pages.constFind(escapedPage);
    return it != pages.cend() ? &it.value() : nullptr;
}

const LinkItem* SearchHitEntries::entryFor(const QString& path) const {
    qsizetype order = 0;
    return entryFor(path, &order);
}

const LinkItem* SearchHitEntries::entryFor(const QString& path, qsizetype* order) const {
    const QString page = path.startsWith(u'/') ? path.mid(1) : path;
    if (page.isEmpty() || std::any_of(page.cbegin(), page.cend(), isPageEnd)) {
        // The table is keyed by what precedes those characters: walk the trees instead.
        const LinkItem* found =
            m_tableOfContent ? m_tableOfContent->itemForPath(path, nullptr) : nullptr;
        if (!found && m_indexContent)
            found = m_indexContent->itemForPath(path, nullptr);
        // Rare paths: they come after every page found by the table.
        *order = std::numeric_limits<qsizetype>::max() - 1;
        return found;
    }
    if (const Entry* found = find(m_tocPages, page)) {
        *order = found->order;
        return found->item;
    }
    if (const Entry* found = find(m_indexPages, page)) {
        *order = m_tocCount + found->order;
        return found->item;
    }
    return nullptr;
}
