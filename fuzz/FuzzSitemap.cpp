#include "FuzzCheck.h"
#include "FuzzTargets.h"

#include "CHMTableOfContent.h"
#include "LinkItem.h"

#include <QByteArray>
#include <algorithm>
#include <array>
#include <utility>
#include <vector>

namespace {

const std::array<const char*, 5> kEncodings = {"", "CP936", "CP1251", "CP932", "UTF-8"};

// Path lookups are linear in the tree: a few of them keep one run fast however large it is.
constexpr size_t kLookups = 64;
constexpr size_t kSamePageChecks = 1000;

bool sortsBefore(const QString& a, const QString& b) {
    if (a.isNull() || b.isNull())
        return a.isNull() && !b.isNull();
    return a.compare(b) < 0;
}

// Depth and count limits hold, and the walk sees every item once.
void checkShape(const CHMTableOfContent& toc) {
    std::vector<std::pair<const LinkItem*, int>> work{{toc.rootItems(), 0}};
    quint64 count = 0;
    while (!work.empty()) {
        const auto [item, depth] = work.back();
        work.pop_back();
        fuzz::check(depth <= CHMTableOfContent::kMaxDepth, "an item lies below the depth cap");
        for (const LinkItemPtr& child : item->children()) {
            fuzz::check(child != nullptr, "a child is null");
            work.emplace_back(child.get(), depth + 1);
        }
        ++count;
    }
    fuzz::check(count - 1 <= CHMTableOfContent::kMaxItems, "the tree holds more than the cap");
}

void checkPages(const CHMTableOfContent& toc) {
    const std::vector<LinkItemPtr>& pages = toc.pageList();
    for (size_t i = 0; i < pages.size(); ++i) {
        const LinkItem* page = pages[i].get();
        fuzz::check(!page->path().isEmpty(), "a listed page has no path");
        fuzz::check(page->pageID() == i, "a listed page has another page's number");
        const LinkItem* next = toc.getNextPage(page);
        fuzz::check(next == (i + 1 < pages.size() ? pages[i + 1].get() : nullptr),
                    "getNextPage skips or invents a page");
        const LinkItem* prev = toc.getPrevPage(page);
        fuzz::check(prev == (i > 0 ? pages[i - 1].get() : nullptr),
                    "getPrevPage skips or invents a page");
        if (i + 1 < pages.size() && i < kSamePageChecks)
            fuzz::check(!CHMTableOfContent::isSamePage(page->path(), pages[i + 1]->path()),
                        "the page list repeats a page consecutively");
    }
    toc.getNextPage(nullptr);
    toc.getPrevPage(nullptr);
}

void checkLookups(const CHMTableOfContent& toc) {
    size_t done = 0;
    for (const LinkItemPtr& page : toc.pageList()) {
        if (done++ == kLookups)
            break;
        const QString& path = page->path();
        std::vector<LinkItem*> stack;
        const LinkItem* found = toc.itemForPath(path, &stack);
        if (path.startsWith(u'/'))
            continue; // one leading "/" is dropped from the searched path, so it may not match
        fuzz::check(found != nullptr, "a listed page is not found by its own path");
        fuzz::check(found->path().startsWith(path), "itemForPath answers another path");
        fuzz::check(!stack.empty() && stack.back() == toc.rootItems(),
                    "the ancestor stack does not end at the root");
        // Escaped and slash-led forms of the path must not fault either.
        toc.itemForPath(QLatin1Char('/') + path, nullptr);
        toc.itemForPath(path + QStringLiteral("%20#x"), nullptr);
    }
}

void checkFilterAndSort(CHMTableOfContent& toc) {
    QString prefix;
    for (const LinkItemPtr& item : toc.rootItems()->children()) {
        if (!item->name().isEmpty()) {
            prefix = item->name().left(2);
            break;
        }
    }
    const auto all = CHMTableOfContent::filterByNamePrefix(&toc, QString());
    const auto some = CHMTableOfContent::filterByNamePrefix(&toc, prefix);
    fuzz::check(some->rootChildrenCount() <= toc.rootChildrenCount(),
                "a filter answers more items than it was given");
    for (const LinkItemPtr& item : some->rootItems()->children())
        fuzz::check(item->name().startsWith(prefix, Qt::CaseInsensitive),
                    "a filter answers an item without the prefix");
    some->sort();
    all->sort();

    toc.sort();
    const auto& top = toc.rootItems()->children();
    for (size_t i = 1; i < top.size(); ++i)
        fuzz::check(!sortsBefore(top[i]->uppercaseName(), top[i - 1]->uppercaseName()),
                    "sort leaves the top level out of order");
}

} // namespace

namespace fuzz {

int fuzzSitemap(const uint8_t* data, size_t size) {
    if (size < 1)
        return 0;
    const QString encoding = QString::fromLatin1(kEncodings[data[0] % kEncodings.size()]);
    const QByteArray sitemap(reinterpret_cast<const char*>(data + 1),
                             static_cast<qsizetype>(size - 1));
    CHMTableOfContent toc(sitemap, encoding);
    checkShape(toc);
    checkPages(toc);
    checkLookups(toc);
    checkFilterAndSort(toc);
    return 0;
}

} // namespace fuzz
